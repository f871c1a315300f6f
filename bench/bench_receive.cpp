// Throughput of the receive path (receive handler + frame parser) on the headless surface, and
// whether the cost of one receive event stays flat as the fed stream grows.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "control/tolvak.h"

namespace {

using namespace tolvak;

// Hands the control one prepared chunk per receive event, as a serial line would.
class ChunkSerial : public SerialControl {
public:
    void setCommPort(int16_t) override {}
    void setSettings(const std::u16string&) override {}
    void setInBufferSize(int16_t) override {}
    void setInBufferCount(int16_t) override {}
    void setInputLen(int16_t) override {}
    void setRThreshold(int16_t) override {}
    bool portOpen() override { return true; }
    void setPortOpen(bool) override {}
    std::u16string input() override { return m_chunk; }
    int16_t commEvent() override { return kEventReceive; }

    void deliver(std::u16string_view chunk) {
        m_chunk.assign(chunk);
        raiseOnComm();
    }

private:
    std::u16string m_chunk;
};

class NoTimer : public TimerControl {
    void setEnabled(bool) override {}
    void setInterval(int32_t) override {}
};

class NoBox : public MsgBox {
    void show(const std::u16string&, uint32_t, const std::u16string&) override {}
};

class NoSockets : public SocketsApi {
    int wsaStartup(uint16_t, WsaData&) override { return -1; }
    int wsaCleanup() override { return 0; }
    int wsaGetLastError() override { return 0; }
    int getHostName(char*, int) override { return kSocketError; }
    std::optional<std::vector<uint8_t>> getHostByName(const std::string&) override { return {}; }
    uint32_t inetAddr(const std::string&) override { return 0; }
    uint32_t sendArp(uint32_t, uint32_t, uint8_t*, uint32_t&) override { return 1; }
    std::u16string fromAnsi(const std::string&) override { return {}; }
};

struct Bench {
    Bench() {
        Platform p;
        auto s = std::make_unique<ChunkSerial>();
        serial = s.get();
        p.serial = std::move(s);
        p.timer = std::make_unique<NoTimer>();
        p.msgBox = std::make_unique<NoBox>();
        p.sockets = std::make_unique<NoSockets>();
        p.random = std::make_unique<ClockRandom>();
        control = std::make_unique<Tolvak>(std::move(p));
    }
    ChunkSerial* serial;
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
            bench.serial->deliver(std::u16string_view(pattern).substr(offset, kChunk));
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
    for (auto _ : state) bench.serial->deliver(chunk);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kChunk));
}

BENCHMARK(BM_ReceiveWithoutSeparator);

} // namespace

BENCHMARK_MAIN();
