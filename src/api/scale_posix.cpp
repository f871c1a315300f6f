// The public Scale on the Linux platform: a control on its own event loop, its results taken
// from the control's callbacks.
#include "tolvak/scale.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <stdexcept>

#include "acquisition/stable_weight.h"
#include "api/format_reader.h"
#include "control/serial_control.h"
#include "platform/posix/posix_control.h"
#include "platform/posix/unique_fd.h"
#include "text/line_text.h"
#include "text/utf8.h"

namespace tolvak {

namespace {

// The control takes its numbers as 16-bit integers; a wider value is an overflow, as it would be
// for an automation host passing it.
int16_t toShort(int value) {
    if (value < std::numeric_limits<int16_t>::min() || value > std::numeric_limits<int16_t>::max())
        throw errors::overflow();
    return static_cast<int16_t>(value);
}

Error toError(Error::Source source, const AutomationError& e, const std::u16string& message) {
    return Error{source, e.number(), toUtf8(e.description()), toUtf8(message)};
}

} // namespace

// Kept out of what libtolvak.so exports, though Scale itself is exported.
class __attribute__((visibility("hidden"))) Scale::Impl {
  public:
    Impl(LineSettings line, FrameFormat format)
        : m_line(std::move(line)), m_format(std::move(format)),
          m_control(m_loop, std::make_unique<posix::ConsoleMsgBox>(posix::ConsoleMsgBox::Sink{})) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
            throw std::runtime_error("tolvak: no pipe for the scale's wake-ups");
        m_wakeRead.reset(fds[0]);
        m_wakeWrite.reset(fds[1]);

        Tolvak& control = m_control.control();
        control.setReadingSink([this](std::u16string_view text, std::optional<double> value) {
            const bool stable = m_stable.add(value, StableWeight::Clock::now());
            Reading reading{toUtf8(text), value, std::chrono::system_clock::now(), stable};
            reading.raw = lineBytes(m_control.control().currentFrame());
            if (m_onReading) m_onReading(reading);
        });
        m_control.serial().setOnCommHandler([this] { onComm(); });
        control.setReceiveErrorSink([this](const AutomationError& e) {
            report(toError(Error::Source::Receive, e, e.description()));
        });
        control.setPortErrorSink([this](const AutomationError& e, const std::u16string& prompt) {
            m_portFailed = true;
            report(toError(m_portStep, e, prompt));
        });
        m_control.serial().setOnPortLost([this](const AutomationError& e) {
            if (m_onPortLost) m_onPortLost(toError(Error::Source::PortLost, e, e.description()));
        });
    }

    bool open() {
        Tolvak& control = m_control.control();
        if (!openReader()) return false;
        if (auto error = trapErrors([&] { applySettings(control); })) {
            report(toError(Error::Source::Open, *error, error->description()));
            return false;
        }
        m_portStep = Error::Source::Open;
        m_portFailed = false;
        m_stable.reset(); // readings from before a gap say nothing about the weight now
        control.OpenComm();
        return !m_portFailed && m_control.serial().portOpen();
    }

    void close() {
        m_portStep = Error::Source::Close;
        m_control.control().CloseComm();
    }

    bool isOpen() { return m_control.serial().portOpen(); }

    // --- formats other than the control's own, and commands ---

    // The format's decoder, afresh for each open; none for the control's own format.
    bool openReader() {
        m_reader.reset();
        if (m_format.format == "control") return true;
        try {
            m_reader.emplace(m_format, m_stableSettings);
            return true;
        } catch (const std::invalid_argument& e) {
            const AutomationError error(errors::kInvalidPropertyValue, fromUtf8(e.what()));
            report(toError(Error::Source::Open, error, error.description()));
            return false;
        }
    }

    // The control owns the port either way; only a format of its own reads the bytes.
    void onComm() {
        if (!m_reader) return m_control.control().onComm();
        SerialControl& serial = m_control.serial();
        if (serial.commEvent() != SerialControl::kEventReceive) return;
        const std::string bytes = lineBytes(serial.input());
        m_reader->feed(
            bytes,
            [this](const Reading& r) {
                if (m_onReading) m_onReading(r);
            },
            [this](const Error& e) { report(e); });
    }

    bool send(const std::string& bytes) {
        if (auto error = trapErrors([&] { m_control.serial().write(bytes); })) {
            report(toError(Error::Source::Send, *error, error->description()));
            return false;
        }
        return true;
    }

    bool sendCommand(Scale::Command command) {
        const formats::Format* format = formats::findFormat(m_format.format);
        if (!format) return false;
        const formats::Commands& c = format->commands;
        const std::string& bytes = command == Scale::Command::Zero   ? c.zero
                                   : command == Scale::Command::Tare ? c.tare
                                                                     : c.print;
        return !bytes.empty() && send(bytes);
    }

    void setStableSettings(const StableSettings& settings) {
        m_stableSettings = settings;
        m_stable = StableWeight(settings.window, settings.tolerance);
        if (m_reader) m_reader->setStableSettings(settings);
    }

    void stop() {
        // Only write(2): safe in a signal handler and from any thread.
        const char byte = 1;
        [[maybe_unused]] auto n = ::write(m_wakeWrite.get(), &byte, 1);
    }

    // Runs the loop with the wake-up pipe watched. Only here: a stop() waits in the pipe until
    // a run takes it, so process() cannot swallow it, and a program's own poll loop is never
    // woken by a descriptor that process() leaves unread.
    template <typename RunLoop> auto takingStops(RunLoop runLoop) {
        struct Unwatch {
            posix::EventLoop& loop;
            posix::EventLoop::Id id;
            ~Unwatch() { loop.unwatch(id); }
        } unwatch{m_loop, m_loop.watch(m_wakeRead.get(), POLLIN, [this](short) { takeStops(); })};
        m_loop.resume();
        return runLoop();
    }

    posix::EventLoop m_loop;
    StableWeight m_stable;
    std::function<void(const Reading&)> m_onReading;
    std::function<void(const Error&)> m_onError;
    std::function<void(const Error&)> m_onPortLost;

  private:
    void takeStops() {
        // Stops that came together end one run.
        char bytes[64];
        while (::read(m_wakeRead.get(), bytes, sizeof bytes) > 0) {
        }
        m_loop.quit(0);
    }

    // The control's own setters, so the settings are checked and used exactly as a host's are.
    void applySettings(Tolvak& control) {
        const FrameFormat& f = m_format;
        control.setDecimals(toShort(f.decimals));
        control.setEloadPrebits(toShort(f.eloadPrebits));
        control.setEloadbits(toShort(f.eloadBits));
        control.setBufferLength(toShort(m_line.bufferLength));
        control.setNewLineSepChar(f.newLineSeparates ? 1 : 0);
        control.setEnterkeySepChar(f.carriageReturnSeparates ? 1 : 0);
        control.setOtherSepChar(lineText(f.otherSeparator));
        control.setIsReservChar(f.reversed ? 1 : 0);
        control.setPortNum(toShort(m_line.port));
        control.setBandRate(fromUtf8(std::to_string(m_line.baudRate)));
        control.setDataBit(toShort(m_line.dataBits));
        control.setParity(std::u16string(1, static_cast<unsigned char>(m_line.parity)));
        control.setStopBit(toShort(m_line.stopBits));
        if (!m_line.device.empty())
            m_control.serial().bindDevice(control.state().portNum, m_line.device);
    }

    void report(const Error& error) {
        if (m_onError) m_onError(error);
    }

    LineSettings m_line;
    FrameFormat m_format;
    posix::PosixControl m_control;
    posix::UniqueFd m_wakeRead;
    posix::UniqueFd m_wakeWrite;
    Error::Source m_portStep = Error::Source::Open;
    bool m_portFailed = false;
    StableSettings m_stableSettings;
    std::optional<FormatReader> m_reader;
};

Scale::Scale(LineSettings line, FrameFormat format)
    : m_impl(std::make_unique<Impl>(std::move(line), std::move(format))) {}
Scale::~Scale() = default;
Scale::Scale(Scale&&) noexcept = default;
Scale& Scale::operator=(Scale&&) noexcept = default;

void Scale::onReading(std::function<void(const Reading&)> callback) {
    m_impl->m_onReading = std::move(callback);
}
void Scale::setStableSettings(const StableSettings& settings) {
    m_impl->setStableSettings(settings);
}
void Scale::onError(std::function<void(const Error&)> callback) {
    m_impl->m_onError = std::move(callback);
}
void Scale::onPortLost(std::function<void(const Error&)> callback) {
    m_impl->m_onPortLost = std::move(callback);
}

bool Scale::open() {
    return m_impl->open();
}
void Scale::close() {
    m_impl->close();
}
bool Scale::isOpen() const {
    return m_impl->isOpen();
}

std::vector<Scale::PollDescriptor> Scale::pollDescriptors() const {
    std::vector<PollDescriptor> out;
    for (const auto& d : m_impl->m_loop.descriptors())
        out.push_back({d.fd, d.events});
    return out;
}

std::optional<std::chrono::milliseconds> Scale::nextTimeout() const {
    auto due = m_impl->m_loop.nextDue();
    if (!due) return std::nullopt;
    auto left = std::chrono::ceil<std::chrono::milliseconds>(*due - posix::EventLoop::Clock::now());
    return std::max(left, std::chrono::milliseconds(0));
}

void Scale::process() {
    posix::EventLoop& loop = m_impl->m_loop;
    loop.resume();
    loop.runOnce(posix::EventLoop::Clock::now());
}

void Scale::run() {
    m_impl->takingStops([this] { return m_impl->m_loop.run(); });
}

bool Scale::runFor(std::chrono::milliseconds duration) {
    return m_impl->takingStops([&] { return m_impl->m_loop.runFor(duration); });
}

void Scale::stop() {
    m_impl->stop();
}

bool Scale::send(const std::string& bytes) {
    return m_impl->send(bytes);
}

bool Scale::sendCommand(Command command) {
    return m_impl->sendCommand(command);
}

} // namespace tolvak
