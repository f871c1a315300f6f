#include "tolvak/commands/host_info.h"

#include <memory>
#include <optional>
#include <ostream>

#include <nlohmann/json.hpp>

#include "text/utf8.h"
#include "tolvak/cli/command.h"
#include "tolvak/output/text_format.h"
#include "tolvak/platform/console_session.h"

namespace tolvak::cli {

namespace {

int runHostInfo(bool json, std::ostream& out, std::ostream& err) {
    ConsoleSession s(err);
    const std::u16string name = s.control->getLocalHostName();
    const std::u16string address = s.control->GetLocalIPAddress();
    const std::u16string mac = s.control->getLocalMacAddress();
    if (json) {
        nlohmann::ordered_json object;
        object["hostName"] = toUtf8(name);
        object["ipv4Address"] = toUtf8(address);
        object["macAddress"] = toUtf8(mac);
        out << jsonText(object) << '\n';
    } else {
        out << "host name:    " << toUtf8(name) << "\nIPv4 address: " << toUtf8(address)
            << "\nMAC address:  " << toUtf8(mac) << '\n';
    }
    out.flush();
    return kExitOk;
}

} // namespace

Run bindHostInfo(Options& options) {
    auto json = std::make_shared<bool>(false);
    options.flag("--json", "one JSON object", *json);
    return [json](std::ostream& out, std::ostream& err) { return runHostInfo(*json, out, err); };
}

} // namespace tolvak::cli
