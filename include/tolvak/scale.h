#pragma once

// Reading a weighbridge indicator from another program: open the line, get a Reading at every
// display write. Errors and a lost port come back through callbacks; nothing is shown to a user.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

// What a shared libtolvak exports; everything else in it stays inside.
#if defined(__GNUC__)
#define TOLVAK_API __attribute__((visibility("default")))
#else
#define TOLVAK_API
#endif

namespace tolvak {

// Where the indicator is and how its line is set. The defaults are the control's own.
struct LineSettings {
    std::string device;       // e.g. "/dev/ttyUSB0"; empty: port N is /dev/ttyS{N-1}
    int port = 1;             // the control's port number (setPortNum)
    uint32_t baudRate = 2400; // setBandRate
    int dataBits = 8;         // 5 to 8 (setDataBit)
    char parity = 'n';        // n, e, o, m or s, either case (setParity)
    int stopBits = 1;         // 1 or 2 (setStopBit)
    int bufferLength = 10;    // receive buffer size requested from the port (setBufferLength)
};

// How frames are cut from the stream and read. The defaults are the control's own: frames
// separated by line feed, carriage return or "=", their characters last first.
struct FrameFormat {
    int decimals = 0;                    // the frame's number is divided by 10^decimals
    int eloadPrebits = 0;                // added to eloadBits
    int eloadBits = 8;                   // a piece this long (with the above) is a complete frame
    bool newLineSeparates = true;        // setNewLineSepChar
    bool carriageReturnSeparates = true; // setEnterkeySepChar
    std::string otherSeparator = "=";    // bytes; empty for none (setOtherSepChar)
    bool reversed = true;                // frames carry their characters last first

    // The indicator's output format by name (tolvak::formatNames()); the fields above belong
    // to "control", the control's own. "regex" takes pattern: a regular expression with named
    // groups value and, optionally, sign, unit, status, mode and tare.
    std::string format = "control";
    std::string pattern;
    // For "regex": what the groups capture, "KEY=V1,V2": a status (stable, motion, overload,
    // underload), a mode (gross, net, tare) or a unit name ("kg=K,KG").
    std::vector<std::string> map;
};

// The formats a FrameFormat may name, separated by ", ".
TOLVAK_API std::string formatNames();

enum class WeightMode { Unknown, Gross, Net, Tare };

// One write of the display.
struct Reading {
    std::string text;            // the display text, UTF-8, e.g. "12.5" or "-20"
    std::optional<double> value; // its number; none when the frame was not a number (shows "0")
    std::chrono::system_clock::time_point time;
    // The weight stands: the indicator's own flag when its format has one, else see
    // StableSettings. Never for a reading that is not a number, nor out of range.
    bool stable = false;

    // What the indicator itself says, where its format carries it.
    std::string unit{};                    // "kg", "lb", "g", "t"...; empty when not sent
    WeightMode mode = WeightMode::Unknown; // gross, net or tare
    std::optional<bool> indicatorStable{}; // none when the format has no such flag
    bool overload = false;
    bool underload = false;
    std::optional<double> tare{}; // the tare sent beside the weight
    std::string raw{};            // the frame's bytes as received (empty for simulated readings)
};

// When a reading is stable: the display has stayed within tolerance of it for a whole window,
// that is every reading of the last window, and the one shown when the window began, is within
// tolerance of it. Until the readings seen reach back a window (after open(), after a reading
// that is not a number, after the port was lost) no reading is stable.
struct StableSettings {
    std::chrono::milliseconds window{1000};
    double tolerance = 0; // in display units (after decimals)
};

// An error of the control: its number (8002 no such device, 8005 port already open, 8010 port
// not available, 380 bad settings, 6 overflow...) and description, in UTF-8. Where the system
// refused something, systemError is its own code, which tells causes the control's number lumps
// together: e.g. std::errc::permission_denied (not allowed to use the device),
// std::errc::device_or_resource_busy (another program has it), std::errc::is_a_directory.
struct Error {
    enum class Source {
        Open,    // open() failed; the port is closed
        Close,   // close() failed
        Receive, // a receive event failed, or a frame was dropped; reading goes on
        Send,    // send() failed; the port stays as it was
        PortLost // the device went away (unplugged, peer closed); the port is closed
    };
    Source source = Source::Open;
    int number = 0;
    std::string description;
    // The whole message the control would show for it in its box (Chinese, lines separated by
    // CR); for Receive and PortLost the same as description.
    std::string message;
    std::error_code systemError; // none when the error is the control's own
};

// A scale on a serial line. Every callback runs on the thread that calls process(), run() or
// runFor(), one at a time; a Scale is used from one thread, except stop(). Not copyable.
//
// What arrives is queued and handed to the callbacks in order. An exception thrown by a callback
// leaves the process(), run() or runFor() that called it; the event it was given is not given
// again, those after it come with the next call, and the Scale stays usable. A moved-from Scale
// is empty: open() returns false, run() and runFor() return at once, the rest do nothing.
class TOLVAK_API Scale {
  public:
    explicit Scale(LineSettings line = {}, FrameFormat format = {});
    ~Scale();
    Scale(Scale&&) noexcept;
    Scale& operator=(Scale&&) noexcept;
    Scale(const Scale&) = delete;
    Scale& operator=(const Scale&) = delete;

    void onReading(std::function<void(const Reading&)> callback);
    // Takes effect from the next reading; the readings already seen are kept and judged afresh
    // (a longer window waits until they reach back that far).
    void setStableSettings(const StableSettings& settings);
    // Open, Close and Receive errors.
    void onError(std::function<void(const Error&)> callback);
    // The device went away under the open port. open() may be called again later.
    void onPortLost(std::function<void(const Error&)> callback);

    // Opens the port with the settings; false (after onError) when it could not be opened. On
    // an open port it is refused with 8005 "Port already open" and the port is left as it is.
    bool open();
    // Readings not yet delivered belong to the port closed and are dropped.
    void close();
    bool isOpen() const;
    // Bytes the port has given since this Scale was made, whether or not they made readings:
    // a line whose bytes read as nothing is set up wrong.
    uint64_t bytesReceived() const;

    // Talking to the indicator: bytes written to the open port as they are. False (after
    // onError) when the port is not open or the write fails.
    bool send(const std::string& bytes);
    enum class Command { Zero, Tare, Print };
    // The format's own bytes for the command; false when its protocol has none.
    bool sendCommand(Command command);

    // Fitting another event loop: wait until one of these descriptors is ready for its poll(2)
    // events, or the timeout has passed, then call process(). Both may change after each
    // process(), open() or close(); ask again every time. stop() wakes none of them: it is
    // meant for run() and runFor().
    struct PollDescriptor {
        int fd;
        short events; // poll(2) event bits
    };
    std::vector<PollDescriptor> pollDescriptors() const;
    // How long the loop may sleep at most; none: until a descriptor is ready. Zero while
    // readings held back by a stop() from a callback wait for the next process().
    std::optional<std::chrono::milliseconds> nextTimeout() const;
    // Handles whatever is ready or due now; never blocks. A pending stop() is left for the next
    // run() or runFor().
    void process();

    // Blocks, delivering callbacks, until stop().
    void run();
    // Blocks until stop() or the time is up; true when stop() ended it.
    bool runFor(std::chrono::milliseconds duration);
    // Ends run() or runFor(), now or, when neither is running, as soon as the next one is
    // entered, so that a signal just before run() is not lost; process() neither takes nor
    // clears it. Stops that come before a run takes them end that one run. Callable from any
    // thread and from a signal handler. Called from a callback, it also ends the delivery of that
    // process(), run() or runFor(): no further callback comes from it, and what is left comes
    // with the next.
    void stop();

  private:
    class Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace tolvak
