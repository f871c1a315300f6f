#include "tolvak/feed/port_problems.h"

#include <algorithm>
#include <ostream>

#include "tolvak/platform/tool_platform.h"

namespace tolvak::cli {

namespace {

constexpr uint64_t kFewBytes = 16;

bool doubtful(const Reading& reading) {
    if (!reading.value) return true;
    // A frame with other digits that reads as 0 was cut or read the wrong way round.
    return *reading.value == 0 && std::any_of(reading.raw.begin(), reading.raw.end(),
                                              [](char c) { return c >= '1' && c <= '9'; });
}

} // namespace

OpenProblem openProblem(const Error& error, const std::string& device) {
    OpenProblem problem;
    std::string reason = error.description;
    if (error.systemError) reason = systemMessage(error.systemError);
    // The control's own descriptions start with the device already.
    if (reason.rfind(device + ": ", 0) == 0) reason.erase(0, device.size() + 2);
    problem.text = "cannot open " + device + ": " + reason + " (" +
                   (error.number ? "error " + std::to_string(error.number)
                                 : "system error " + std::to_string(error.systemError.value())) +
                   ")";
    const PortTrouble trouble = error.systemError ? portTrouble(error.systemError)
                                : error.number == 380
                                    ? PortTrouble::settings // the control refused a setting
                                    : PortTrouble::unknown;
    problem.lasting = trouble != PortTrouble::missing && trouble != PortTrouble::unknown;
    switch (trouble) {
    case PortTrouble::missing:
        problem.hint = device + " is not there (not plugged in?): tolvak ports lists the serial "
                                "ports there are";
        break;
    case PortTrouble::denied:
        problem.hint = "not allowed to use " + device + ": " + permissionHint(device);
        break;
    case PortTrouble::notSerial:
        problem.hint = device + " is not a serial port: tolvak ports lists the ones there are";
        break;
    case PortTrouble::settings:
        problem.hint = "the driver of " + device +
                       " refuses these line settings: check --baud, --data-bits, --parity and "
                       "--stop-bits";
        break;
    case PortTrouble::busy:
        problem.hint = device + " is in use by another program: close it (or stop the other "
                                "tolvak) and try again";
        break;
    case PortTrouble::unknown:
        break;
    }
    return problem;
}

bool sayPortChange(std::ostream& err, const std::string& command, const PortStatus& port,
                   PortStatus& said) {
    const std::string prefix = "tolvak " + command + ": ";
    if (port.diagnosis != said.diagnosis && !port.diagnosis.empty())
        err << prefix << port.diagnosis << '\n';
    const bool changed = port.state != said.state || port.error != said.error;
    said = port;
    if (changed && port.state == PortStatus::State::waiting)
        err << prefix << "waiting for the device: " << port.error << '\n';
    if (changed && port.state == PortStatus::State::blocked)
        err << prefix << port.hint << " (" << port.error << "; trying again every second)\n";
    err.flush();
    return changed;
}

std::string noReadingDiagnosis(const std::string& device) {
    return "bytes come from " + device +
           " but no weight reads from them: the baud rate, framing or format is likely wrong "
           "(tolvak detect --device " +
           device + " finds them)";
}

void LineDoubt::restart(uint64_t bytes, Clock::time_point now) {
    m_since = now;
    m_bytesBefore = bytes;
    m_good = m_doubtful = 0;
}

void LineDoubt::reading(const Reading& reading) {
    ++(doubtful(reading) ? m_doubtful : m_good);
}

std::optional<std::string> LineDoubt::check(uint64_t bytes, Clock::time_point now,
                                            const std::string& device) {
    if (now - m_since < kAfter) return std::nullopt;
    // Fewer bytes than a frame or two could be noise at plugging in.
    const bool wrong = bytes - m_bytesBefore >= kFewBytes && m_good * 4 <= m_doubtful;
    const bool was = m_said;
    restart(bytes, now);
    if (wrong == was) return std::nullopt;
    m_said = wrong;
    return wrong ? noReadingDiagnosis(device) : std::string();
}

} // namespace tolvak::cli
