// Latency from the last byte of a frame written into a pseudo-terminal to the display write,
// for the control on its Linux serial port and, on the same stream, for pyserial readers.
//
//   bench_latency [--frames N] [--rate FRAMES_PER_S] [--python /usr/bin/python3] [--no-python]
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "control/tolvak.h"
#include "platform/posix/posix_control.h"
#include "platform/posix/pseudo_terminal.h"
#include "text/utf8.h"
#include "tolvak/simulator/indicator.h"

namespace {

using Clock = std::chrono::steady_clock; // CLOCK_MONOTONIC, as Python's time.monotonic_ns()
using tolvak::posix::PseudoTerminal;

struct Options {
    int frames = 10000;
    double rate = 200;
    std::string python = "/usr/bin/python3";
    std::string script;
    bool withPython = true;
};

struct Result {
    std::string name;
    std::vector<double> latenciesMs;
    double cpuSeconds = 0;
    double wallSeconds = 0;
    int frames = 0;
};

int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

double threadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

// Writes frames 0..n-1 (the frame's weight is its number) at the given rate; sentNs[i] is the
// moment the write of frame i returned.
void writeFrames(int master, int n, double rate, std::vector<int64_t>& sentNs,
                 const std::atomic<bool>& stop) {
    tolvak::cli::FrameFormat format;
    const auto period = std::chrono::duration<double>(1.0 / rate);
    const auto start = Clock::now();
    for (int i = 0; i < n && !stop; ++i) {
        std::this_thread::sleep_until(start +
                                      std::chrono::duration_cast<Clock::duration>(period * i));
        const std::string frame = tolvak::cli::encodeFrame(i, format);
        if (::write(master, frame.data(), frame.size()) != static_cast<ssize_t>(frame.size())) {
            std::perror("write");
            return;
        }
        sentNs[i] = nowNs();
    }
}

void collect(Result& r, const std::vector<int64_t>& sentNs, const std::map<int, int64_t>& shownNs) {
    for (const auto& [index, ns] : shownNs)
        if (index >= 10 && index < static_cast<int>(sentNs.size()) && sentNs[index] > 0)
            r.latenciesMs.push_back((ns - sentNs[index]) / 1e6); // the first frames warm up
}

class DisplayClock : public tolvak::SurfaceObserver {
  public:
    void textChanged(tolvak::ChildId id, std::u16string_view text) override {
        if (id != tolvak::ChildId::lblNumber) return;
        shownNs[std::atoi(tolvak::toUtf8(text).c_str())] = nowNs();
    }
    std::map<int, int64_t> shownNs;
};

Result measureControl(const Options& o) {
    Result r;
    r.name = "tolvak (control on termios + poll)";
    PseudoTerminal pty = PseudoTerminal::open();
    tolvak::posix::EventLoop loop;
    tolvak::posix::PosixControl posix(loop);
    posix.serial().bindDevice(1, pty.slavePath());
    tolvak::Tolvak& control = posix.control();
    control.setBandRate(u"9600");
    DisplayClock clock;
    control.surface().setObserver(&clock);
    control.OpenComm();

    std::vector<int64_t> sentNs(o.frames, 0);
    std::atomic<bool> stop{false};
    const double cpu0 = threadCpuSeconds();
    const auto wall0 = Clock::now();
    std::thread writer(writeFrames, pty.master(), o.frames, o.rate, std::ref(sentNs),
                       std::cref(stop));
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(o.frames / o.rate + 5));
    while (static_cast<int>(clock.shownNs.size()) < o.frames && Clock::now() < deadline)
        loop.runOnce(deadline);
    stop = true;
    writer.join();
    r.cpuSeconds = threadCpuSeconds() - cpu0;
    r.wallSeconds = std::chrono::duration<double>(Clock::now() - wall0).count();
    r.frames = static_cast<int>(clock.shownNs.size());
    control.surface().setObserver(nullptr);
    collect(r, sentNs, clock.shownNs);
    return r;
}

Result measurePython(const Options& o, const std::string& mode, int frames) {
    Result r;
    r.name = "pyserial " + mode;
    PseudoTerminal pty = PseudoTerminal::open();
    int out[2];
    if (::pipe(out) != 0) return r;
    pid_t child = ::fork();
    if (child == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        ::close(out[1]);
        const std::string frameCount = std::to_string(frames);
        const std::string path = pty.slavePath();
        ::execl(o.python.c_str(), o.python.c_str(), o.script.c_str(), "--port", path.c_str(),
                "--frames", frameCount.c_str(), "--mode", mode.c_str(),
                static_cast<char*>(nullptr));
        std::perror("exec python");
        ::_exit(127);
    }
    ::close(out[1]);
    FILE* results = ::fdopen(out[0], "r");
    char line[256];
    if (!std::fgets(line, sizeof line, results) || std::strncmp(line, "ready", 5) != 0) {
        std::fprintf(stderr, "the python reader did not start (is python3-serial installed?)\n");
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        std::fclose(results);
        return r;
    }
    std::vector<int64_t> sentNs(frames + 1, 0);
    std::atomic<bool> stop{false};
    const auto wall0 = Clock::now();
    // One frame more: the read_until reader only sees a frame once the next one begins.
    writeFrames(pty.master(), frames + 1, o.rate, sentNs, stop);
    std::map<int, int64_t> shownNs;
    double weight;
    long long ns;
    while (std::fscanf(results, "%lf %lld", &weight, &ns) == 2)
        shownNs[static_cast<int>(weight)] = ns;
    std::fclose(results);
    int status = 0;
    rusage usage{};
    ::kill(child, SIGINT);
    ::wait4(child, &status, 0, &usage);
    r.wallSeconds = std::chrono::duration<double>(Clock::now() - wall0).count();
    r.cpuSeconds = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
                   usage.ru_stime.tv_usec / 1e6;
    r.frames = static_cast<int>(shownNs.size());
    sentNs.resize(frames);
    collect(r, sentNs, shownNs);
    return r;
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    size_t i = static_cast<size_t>(p / 100.0 * (v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

void report(const Result& r) {
    std::printf("%-36s %7d %12.3f %12.3f %12.3f %9.2f%%\n", r.name.c_str(), r.frames,
                percentile(r.latenciesMs, 50), percentile(r.latenciesMs, 99),
                percentile(r.latenciesMs, 100),
                r.wallSeconds > 0 ? 100 * r.cpuSeconds / r.wallSeconds : 0);
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    o.script = std::string(SOURCE_DIR) + "/bench_latency.py";
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&] { return i + 1 < argc ? std::string(argv[++i]) : std::string(); };
        if (a == "--frames")
            o.frames = std::max(20, std::atoi(next().c_str()));
        else if (a == "--rate")
            o.rate = std::max(1.0, std::atof(next().c_str()));
        else if (a == "--python")
            o.python = next();
        else if (a == "--no-python")
            o.withPython = false;
        else {
            std::fprintf(
                stderr,
                "usage: bench_latency [--frames N] [--rate R] [--python PATH] [--no-python]\n");
            return 64;
        }
    }
    std::printf("%d frames of 9 bytes at %.0f frames/s into a pseudo-terminal; latency from the\n"
                "return of the frame's write to the display write (ms); CPU of the reader.\n\n",
                o.frames, o.rate);
    std::printf("%-36s %7s %12s %12s %12s %10s\n", "reader", "frames", "median ms", "p99 ms",
                "max ms", "CPU");
    report(measureControl(o));
    if (o.withPython) {
        report(measurePython(o, "careful", o.frames));
        // Every read_until reading waits a whole frame period: a few hundred show it.
        report(measurePython(o, "read_until", std::min(o.frames, 400)));
    }
    return 0;
}
