// The public Scale: a control on its platform's loop, its results taken from the control's
// callbacks and handed to the program's own. The same on every platform; scale_loop.h is what a
// platform supplies.
#include "tolvak/scale.h"

#include <atomic>
#include <deque>
#include <limits>
#include <stdexcept>
#include <variant>

#include "acquisition/stable_weight.h"
#include "api/format_reader.h"
#include "api/scale_loop.h"
#include "control/serial_control.h"
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
    return Error{source, e.number(), toUtf8(e.description()), toUtf8(message), e.systemError()};
}

} // namespace

// Kept out of what libtolvak.so exports, though Scale itself is exported.
class __attribute__((visibility("hidden"))) Scale::Impl {
  public:
    Impl(LineSettings line, FrameFormat format)
        : m_loop(makeScaleLoop()), m_line(std::move(line)), m_format(std::move(format)) {
        // The control's events are queued, not handed on from inside the control: a callback
        // then finds the control between events, may stop delivery after any one of them, and
        // may throw without the control seeing the same frame again.
        Tolvak& control = m_loop->control();
        control.setReadingSink([this](std::u16string_view text, std::optional<double> value) {
            const bool stable = m_stable.add(value, StableWeight::Clock::now());
            Reading reading{toUtf8(text), value, std::chrono::system_clock::now(), stable};
            reading.raw = lineBytes(m_loop->control().currentFrame());
            m_events.emplace_back(std::move(reading));
        });
        control.serial().setOnCommHandler([this] { onComm(); });
        control.setInputSink([this](size_t count) { m_bytesReceived += count; });
        control.setReceiveErrorSink([this](const AutomationError& e) {
            m_events.emplace_back(toError(Error::Source::Receive, e, e.description()));
        });
        control.setPortErrorSink([this](const AutomationError& e, const std::u16string& prompt) {
            m_portFailed = true;
            report(toError(m_portStep, e, prompt));
        });
        m_loop->onPortLost([this](const AutomationError& e) {
            m_stable.reset(); // what comes after the gap starts a new history
            if (m_reader) m_reader->resetStable();
            m_events.emplace_back(toError(Error::Source::PortLost, e, e.description()));
        });
    }

    bool open() {
        Tolvak& control = m_loop->control();
        if (isOpen()) {
            // Opening again would throw away what waits in the port.
            const AutomationError error = errors::portAlreadyOpen();
            report(toError(Error::Source::Open, error, Tolvak::openErrorPrompt(error)));
            return false;
        }
        if (!openReader()) return false;
        if (auto error = trapErrors([&] { applySettings(control); })) {
            report(toError(Error::Source::Open, *error, error->description()));
            return false;
        }
        m_portStep = Error::Source::Open;
        m_portFailed = false;
        m_events.clear();
        m_stable.reset(); // readings from before a gap say nothing about the weight now
        control.OpenComm();
        return !m_portFailed && isOpen();
    }

    void close() {
        m_portStep = Error::Source::Close;
        m_events.clear(); // they belong to the port just closed
        m_loop->control().CloseComm();
    }

    bool isOpen() { return m_loop->control().serial().portOpen(); }

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

    // The control owns the port either way; only for its own format does it read the bytes.
    void onComm() {
        if (!m_reader) return m_loop->control().onComm();
        SerialControl& serial = m_loop->control().serial();
        if (serial.commEvent() != SerialControl::kEventReceive) return;
        std::string bytes;
        if (auto error = trapErrors([&] { bytes = lineBytes(serial.input()); })) {
            m_events.emplace_back(toError(Error::Source::Receive, *error, error->description()));
            return;
        }
        m_bytesReceived += bytes.size();
        m_reader->feed(
            bytes, [this](Reading r) { m_events.emplace_back(std::move(r)); },
            [this](Error e) { m_events.emplace_back(std::move(e)); });
    }

    bool send(const std::string& bytes) {
        if (auto error = trapErrors([&] {
                if (!isOpen()) throw AutomationError(errors::kPortNotOpen, u"Port not open");
                m_loop->write(bytes);
            })) {
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
        if (m_reader) m_reader->setStableSettings(settings);
        m_stable.setSettings(settings.window, settings.tolerance);
    }

    // A run: delivers what is queued and what comes, until a stop() it has not seen before
    // (true) or the deadline (false).
    bool runUntil(std::optional<ScaleLoop::Clock::time_point> deadline) {
        if (takeStop()) return true;
        deliver(m_taken);
        for (;;) {
            if (takeStop()) return true;
            m_loop->wait(deadline);
            deliver(m_taken);
            if (takeStop()) return true;
            if (deadline && ScaleLoop::Clock::now() >= *deadline) return false;
        }
    }

    // One step of another program's loop. Stops are left to the runs; one made from a callback
    // still ends this step's delivery.
    void process() {
        const unsigned stops = m_stops.load();
        deliver(stops);
        if (m_stops.load() != stops) return;
        m_loop->poll();
        deliver(stops);
    }

    bool hasQueued() const { return !m_events.empty(); }

    void stop() noexcept {
        // Lock-free atomic and the loop's wake-up only: safe in a signal handler.
        m_stops.fetch_add(1);
        m_loop->wake();
    }

    std::unique_ptr<ScaleLoop> m_loop;
    std::function<void(const Reading&)> m_onReading;
    std::function<void(const Error&)> m_onError;
    std::function<void(const Error&)> m_onPortLost;
    uint64_t m_bytesReceived = 0;

  private:
    using Event = std::variant<Reading, Error>;

    // Hands the queued events to the callbacks, oldest first, while no stop() has come since
    // `stops` was read. An event leaves the queue before its callback runs, so a callback that
    // throws does not see it again; the rest wait for the next step.
    void deliver(unsigned stops) {
        while (!m_events.empty() && m_stops.load() == stops) {
            Event event = std::move(m_events.front());
            m_events.pop_front();
            if (const auto* reading = std::get_if<Reading>(&event)) {
                if (m_onReading) m_onReading(*reading);
            } else {
                const Error& error = std::get<Error>(event);
                const auto& callback =
                    error.source == Error::Source::PortLost ? m_onPortLost : m_onError;
                if (callback) callback(error);
            }
        }
    }

    // Stops that came before a run takes them end that one run.
    bool takeStop() {
        const unsigned stops = m_stops.load();
        if (stops == m_taken) return false;
        m_taken = stops;
        return true;
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
        if (!m_line.device.empty()) m_loop->bindDevice(control.state().portNum, m_line.device);
    }

    void report(const Error& error) {
        if (m_onError) m_onError(error);
    }

    LineSettings m_line;
    FrameFormat m_format;
    StableWeight m_stable;
    std::deque<Event> m_events;
    std::atomic<unsigned> m_stops{0}; // stop() calls so far
    unsigned m_taken = 0;             // the stop() calls runs have taken
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

// A moved-from Scale has no Impl: it opens nothing and every other member does nothing.

void Scale::onReading(std::function<void(const Reading&)> callback) {
    if (m_impl) m_impl->m_onReading = std::move(callback);
}
void Scale::setStableSettings(const StableSettings& settings) {
    if (m_impl) m_impl->setStableSettings(settings);
}
void Scale::onError(std::function<void(const Error&)> callback) {
    if (m_impl) m_impl->m_onError = std::move(callback);
}
void Scale::onPortLost(std::function<void(const Error&)> callback) {
    if (m_impl) m_impl->m_onPortLost = std::move(callback);
}

bool Scale::open() {
    return m_impl && m_impl->open();
}
void Scale::close() {
    if (m_impl) m_impl->close();
}
bool Scale::isOpen() const {
    return m_impl && m_impl->isOpen();
}
uint64_t Scale::bytesReceived() const {
    return m_impl ? m_impl->m_bytesReceived : 0;
}

std::vector<Scale::PollDescriptor> Scale::pollDescriptors() const {
    if (!m_impl) return {};
    return m_impl->m_loop->pollDescriptors();
}

std::optional<std::chrono::milliseconds> Scale::nextTimeout() const {
    if (!m_impl) return std::nullopt;
    // Readings a stop() held back are due now: nothing on the descriptors announces them.
    if (m_impl->hasQueued()) return std::chrono::milliseconds(0);
    auto due = m_impl->m_loop->nextDue();
    if (!due) return std::nullopt;
    auto left = std::chrono::ceil<std::chrono::milliseconds>(*due - ScaleLoop::Clock::now());
    return std::max(left, std::chrono::milliseconds(0));
}

void Scale::process() {
    if (m_impl) m_impl->process();
}

void Scale::run() {
    if (m_impl) m_impl->runUntil(std::nullopt);
}

bool Scale::runFor(std::chrono::milliseconds duration) {
    return m_impl && m_impl->runUntil(ScaleLoop::Clock::now() + duration);
}

void Scale::stop() {
    if (m_impl) m_impl->stop();
}

bool Scale::send(const std::string& bytes) {
    return m_impl && m_impl->send(bytes);
}

bool Scale::sendCommand(Command command) {
    return m_impl && m_impl->sendCommand(command);
}

} // namespace tolvak
