#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "acquisition/formats/format.h"
#include "tolvak/platform/tool_platform.h"

namespace tolvak::cli {

// How the simulated indicator writes one reading.
struct FrameFormat {
    int places = 0;                    // digits after the decimal point on the indicator's display
    std::string separator = "=";       // written before each frame
    std::string terminator;            // written after each frame ("\r\n" for line-framed output)
    bool leastSignificantFirst = true; // the display characters last first, then the sign slot
};

constexpr int kDisplayWidth = 7;

// One frame: the separator, the 7 display characters (zero-padded) and a sign slot ('0' or '-'),
// least significant first by default: 3.000 → "=000.3000", -1.00 → "=00.1000-". In display order
// the sign slot comes first. Throws std::out_of_range when the weight does not fit the display.
std::string encodeFrame(double weight, const FrameFormat& format);

// A truck driving on, settling, standing, driving off, and the empty bridge; repeats every
// kProfilePeriod seconds. Kilograms, in steps of the 20 kg division; never above kProfilePeak
// (the bridge overshoots while it settles).
constexpr double kProfilePeriod = 20.0;
constexpr double kProfileGross = 32000.0;
constexpr double kProfilePeak = kProfileGross + 600.0;
double truckProfile(double seconds);

// The truck profile as an indicator with this many places shows it: divided by the smallest power
// of ten that lets the peak fit the display, so the digits stay those of the profile and only the
// point moves (32000 at 0 or 1 places, 3200.00 at 2, 3.20000 at 5).
double displayedProfile(double seconds, int places);

struct IndicatorConfig {
    FrameFormat format;
    std::optional<double> weight; // fixed; otherwise the truck profile
    uint32_t baud = 2400;
    int bitsPerCharacter = 10; // start, 8 data, stop
    double rate = 0;           // frames per second; 0: back to back at the line rate
    uint64_t count = 0;        // frames to send; 0: no end
    // Frames of one of the library's formats instead of the control's own (format.places
    // still applies); the indicator then also obeys the format's zero, tare and print commands.
    const formats::Format* outputFormat = nullptr;
    std::optional<double> tare; // frames are net weights with this tare
    std::string request;        // when given, a frame goes out only when this is received
    // Zero and tare take effect this long after the command, as a slow indicator's do.
    std::chrono::milliseconds obeyAfter{0};
};

// The indicator's reading at a time: the weight (after zero and tare) and its status. The
// weight stands when it has not changed in the last half second.
formats::Sample indicatorSample(double seconds, const IndicatorConfig& config, double zero,
                                std::optional<double> tare);

// Writes frames to a serial line on the loop's timers, paced so that the average rate matches
// the line (and --rate). A frame the line cannot take is dropped whole: a reader never sees half
// of one followed by another.
class Indicator {
  public:
    // read, when given, brings the host's commands (looked at every few milliseconds).
    Indicator(ToolLoop& loop, LineWriter write, IndicatorConfig config, LineReader read = {});
    ~Indicator();
    Indicator(const Indicator&) = delete;
    Indicator& operator=(const Indicator&) = delete;

    void start();
    uint64_t framesSent() const { return m_sent; }
    uint64_t framesDropped() const { return m_dropped; }
    // Seconds between frames for this configuration.
    double frameInterval() const;
    // Called after the last frame of a counted run has gone out.
    void setOnFinished(std::function<void()> onFinished) { m_onFinished = std::move(onFinished); }

  private:
    void tick();
    bool flush();
    void onInput();
    std::string nextFrame(double elapsed);
    void sendNow();

    ToolLoop& m_loop;
    LineWriter m_write;
    IndicatorConfig m_config;
    std::optional<ToolLoop::Id> m_timer;
    std::chrono::steady_clock::time_point m_start;
    uint64_t m_due = 0; // frames the elapsed time calls for
    uint64_t m_sent = 0;
    uint64_t m_dropped = 0;
    std::string m_pending; // the unwritten rest of the last frame
    std::function<void()> m_onFinished;
    LineReader m_read;
    std::optional<ToolLoop::Id> m_input;
    std::string m_received; // bytes from the host not yet matched to a command
    double m_zero = 0;      // the weight zeroed away
    std::optional<double> m_tare;
    std::vector<ToolLoop::Id> m_obeying; // zero and tare commands still to take effect
};

} // namespace tolvak::cli
