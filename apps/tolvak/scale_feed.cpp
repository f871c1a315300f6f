#include "tolvak/scale_feed.h"

#include <ostream>

#include "control/utf8.h"
#include "platform/posix/console_msg_box.h"
#include "tolvak/control_options.h"
#include "tolvak/text_format.h"

namespace tolvak::cli {

const char* stateName(PortStatus::State state) {
    switch (state) {
    case PortStatus::State::connected:
        return "connected";
    case PortStatus::State::waiting:
        return "waiting";
    case PortStatus::State::closed:
        break;
    }
    return "closed";
}

const std::vector<OptionDef>& stableOptionDefs() {
    static const std::vector<OptionDef> defs = {
        {"--stable-window", "S",
         "stable: every reading in the last S seconds (default 1) within the tolerance"},
        {"--stable-tolerance", "X", "stable: readings may differ by X display units (default 0)"},
    };
    return defs;
}

FeedOptions feedOptions(const ParsedArgs& args) {
    FeedOptions options;
    if (auto text = args.value("--stable-window"))
        options.stable.window = std::chrono::milliseconds(
            static_cast<int64_t>(parseNumber("--stable-window", *text, 0.001, 1e6) * 1000));
    if (auto text = args.value("--stable-tolerance"))
        options.stable.tolerance = parseNumber("--stable-tolerance", *text, 0, 1e15);
    options.follow = args.has("--follow");
    return options;
}

namespace {

// The box's last line is the system's reason ("/dev/ttyUSB0: No such file or directory"); the
// lines before it are the control's error number.
std::string lastLine(const std::string& prompt) {
    size_t end = prompt.find_last_not_of("\r\n");
    if (end == std::string::npos) return "";
    size_t start = prompt.find_last_of("\r\n", end);
    start = start == std::string::npos ? 0 : start + 1;
    return prompt.substr(start, end + 1 - start);
}

} // namespace

ScaleFeed::ScaleFeed(const ParsedArgs& args, FeedOptions options, std::ostream& err)
    : m_session([this](const std::string& title, const std::string& prompt) {
          m_lastBox = lastLine(prompt);
          // While following, a device that stays away would repeat its box every retry.
          std::string text = posix::formatMsgBox(title, prompt);
          if (!m_options.follow || text != m_lastBoxShown) m_err << text << std::flush;
          m_lastBoxShown = text;
      }),
      m_options(options), m_err(err), m_stable(options.stable) {
    applyControlOptions(args, *m_session.control, m_session.serial);
    m_port.device = m_session.serial->devicePath(m_session.control->state().portNum);
    m_session.control->surface().setObserver(this);
    m_session.serial->setOnPortLost(
        [this](const AutomationError& e) { portLost(toUtf8(e.description())); });
}

ScaleFeed::~ScaleFeed() {
    m_session.control->surface().setObserver(nullptr);
    if (m_retry) loop().stopTimer(*m_retry);
}

bool ScaleFeed::start() {
    tryOpen();
    return m_port.state == PortStatus::State::connected || m_options.follow;
}

void ScaleFeed::stop() {
    if (m_retry) loop().stopTimer(*m_retry);
    m_retry.reset();
    m_session.control->CloseComm();
}

void ScaleFeed::tryOpen() {
    m_retry.reset();
    m_lastBox.clear();
    const int boxesBefore = m_session.boxes;
    m_session.control->OpenComm();
    if (m_session.boxes == boxesBefore && m_session.serial->portOpen()) {
        m_lastBoxShown.clear();
        m_stable.reset(); // readings from before a gap say nothing about the weight now
        setPort(PortStatus::State::connected, "");
        return;
    }
    const std::string error = m_lastBox.empty() ? "the port could not be opened" : m_lastBox;
    if (!m_options.follow) {
        setPort(PortStatus::State::closed, error);
        return;
    }
    setPort(PortStatus::State::waiting, error);
    scheduleRetry();
}

void ScaleFeed::portLost(const std::string& error) {
    if (!m_options.follow) {
        setPort(PortStatus::State::closed, error);
        return;
    }
    setPort(PortStatus::State::waiting, error);
    scheduleRetry();
}

void ScaleFeed::scheduleRetry() {
    if (m_retry) return;
    // OpenComm opens the device by its path each time, so a symlink (a udev name) is followed to
    // wherever it points now.
    m_retry = loop().startTimer(
        m_options.retryInterval, [this] { tryOpen(); }, false);
}

void ScaleFeed::setPort(PortStatus::State state, std::string error) {
    if (state == m_port.state && error == m_port.error) return;
    m_port.state = state;
    m_port.error = std::move(error);
    if (m_onPortStatus) m_onPortStatus(m_port);
}

void ScaleFeed::textChanged(ChildId id, std::u16string_view text) {
    if (id != ChildId::lblNumber) return;
    Reading reading;
    reading.seq = ++m_seq;
    reading.weight = std::u16string(text);
    reading.value = weightValue(text);
    reading.stable = m_stable.add(reading.value, StableWeight::Clock::now());
    reading.time = std::chrono::system_clock::now();
    if (m_onReading) m_onReading(reading);
}

} // namespace tolvak::cli
