#include "tolvak/commands/ports.h"

#include <memory>
#include <optional>
#include <ostream>

#include "base/serial_ports.h"
#include "tolvak/cli/command.h"
#include "tolvak/output/port_list.h"

namespace tolvak::cli {

namespace {

int runPorts(bool json, std::ostream& out) {
    std::vector<SerialPortInfo> ports = listSerialPorts();
    sortPorts(ports);
    out << (json ? portsJson(ports) + '\n' : portsText(ports)) << std::flush;
    return kExitOk;
}

} // namespace

Run bindPorts(Options& options) {
    auto json = std::make_shared<bool>(false);
    options.flag("--json",
                 "one JSON array: name, links, driver, description, usbId, accessible, group",
                 *json);
    return [json](std::ostream& out, std::ostream&) { return runPorts(*json, out); };
}

} // namespace tolvak::cli
