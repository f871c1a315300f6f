// Throughput of the receive path (receive handler + frame parser) on the headless surface, and
// whether the cost of one receive event stays flat as the fed stream grows.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "control/null_components.h"
#include "control/tolvak.h"
#include "fakes.h"

namespace {

using namespace tolvak;

struct Bench {
    Bench() {
        Platform p;
        auto s = std::make_unique<NullSerialControl>();
        s->setPortOpen(true);
        serial = s.get();
        p.serial = std::move(s);
        p.timer = std::make_unique<NullTimer>();
        p.msgBox = std::make_unique<testing::RecordingMsgBox>();
        p.sockets = std::make_unique<testing::FakeSockets>();
        p.random = std::make_unique<ClockRandom>();
        control = std::make_unique<Tolvak>(std::move(p));
    }
    NullSerialControl* serial; // one receive event per feed(), as a serial line gives them
    std::unique_ptr<Tolvak> control;
};

constexpr size_t kChunk = 64;

// The default format: "=" and eight characters, the digits least significant first. 576 bytes
// (a whole number of 64-byte chunks and 9-byte frames) with varying weights.
std::u16string defaultStream() {
    std::u16string s;
    for (int i = 0; s.size() < 576; ++i) {
        std::u16string digits = u"05.21000";
        digits[0] = static_cast<char16_t>(u'0' + i % 10);
        s += u"=" + digits;
    }
    return s;
}

void BM_ReceiveStream(benchmark::State& state) {
    const size_t total = static_cast<size_t>(state.range(0));
    const std::u16string pattern = defaultStream();
    size_t events = 0, offset = 0;
    Bench bench;
    for (auto _ : state) {
        size_t fed = 0;
        while (fed < total) {
            bench.serial->feed(pattern.substr(offset, kChunk));
            offset = (offset + kChunk) % pattern.size();
            fed += kChunk;
            ++events;
        }
        benchmark::DoNotOptimize(bench.control->getTolvakValue());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * total));
    state.counters["ns_per_event"] = benchmark::Counter(
        static_cast<double>(events), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_ReceiveStream)
    ->Arg(1 << 10)
    ->Arg(1 << 20)
    ->Arg(100 << 20)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A stream in which no separator ever occurs: rawData is capped, so events stay cheap.
void BM_ReceiveWithoutSeparator(benchmark::State& state) {
    Bench bench;
    const std::u16string chunk(kChunk, u'7');
    for (auto _ : state)
        bench.serial->feed(chunk);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kChunk));
}

BENCHMARK(BM_ReceiveWithoutSeparator);

} // namespace

BENCHMARK_MAIN();
