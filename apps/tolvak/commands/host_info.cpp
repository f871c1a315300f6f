#include "tolvak/commands/host_info.h"

#include <ostream>

#include <nlohmann/json.hpp>

#include "text/utf8.h"
#include "tolvak/cli/command.h"
#include "tolvak/output/text_format.h"
#include "tolvak/platform/console_session.h"

namespace tolvak::cli {

std::vector<OptionDef> hostInfoOptionDefs() {
    return {{"--json", "", "one JSON object"}};
}

int runHostInfo(const ParsedArgs& args, std::ostream& out, std::ostream& err) {
    noArguments(args);
    ConsoleSession s(err);
    const std::u16string name = s.control->getLocalHostName();
    const std::u16string address = s.control->GetLocalIPAddress();
    const std::u16string mac = s.control->getLocalMacAddress();
    if (args.has("--json")) {
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

} // namespace tolvak::cli
