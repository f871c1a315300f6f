// Prints the weight of an indicator on a serial line: read_weight DEVICE [BAUD [COUNT]].
// Stops after COUNT readings, or at Ctrl-C.
#include <tolvak/scale.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

static tolvak::Scale* g_scale = nullptr;

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: read_weight DEVICE [BAUD [COUNT]]\n");
        return 64;
    }
    tolvak::LineSettings line;
    line.device = argv[1];
    if (argc > 2) line.baudRate = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10));
    const long count = argc > 3 ? std::strtol(argv[3], nullptr, 10) : 0;

    tolvak::Scale scale(line); // frames in the control's default format
    long seen = 0;
    scale.onReading([&](const tolvak::Reading& r) {
        std::printf("%s\n", r.value ? r.text.c_str() : "(not a number)");
        std::fflush(stdout);
        if (++seen == count) scale.stop();
    });
    scale.onError([](const tolvak::Error& e) {
        std::fprintf(stderr, "error %d: %s\n", e.number, e.description.c_str());
    });
    scale.onPortLost([&](const tolvak::Error&) { scale.stop(); });
    if (!scale.open()) return 2;
    g_scale = &scale;
    std::signal(SIGINT, [](int) { g_scale->stop(); });
    scale.run();
    return 0;
}
