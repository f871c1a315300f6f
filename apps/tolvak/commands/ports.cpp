#include "tolvak/commands/ports.h"

#include <ostream>

#include "base/serial_ports.h"
#include "tolvak/cli/command.h"
#include "tolvak/output/port_list.h"

namespace tolvak::cli {

std::vector<OptionDef> portsOptionDefs() {
    return {{"--json", "",
             "one JSON array: name, links, driver, description, usbId, accessible, "
             "group"}};
}

int runPorts(const ParsedArgs& args, std::ostream& out, std::ostream&) {
    if (!args.positional.empty())
        throw UsageError("unexpected argument '" + args.positional.front() + "'");
    std::vector<SerialPortInfo> ports = listSerialPorts();
    sortPorts(ports);
    out << (args.has("--json") ? portsJson(ports) + '\n' : portsText(ports)) << std::flush;
    return kExitOk;
}

} // namespace tolvak::cli
