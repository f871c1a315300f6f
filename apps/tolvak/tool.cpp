#include "tolvak/tool.h"

#include <ostream>
#include <system_error>

#include "tolvak/cli/command.h"
#include "tolvak/commands/host_info.h"
#include "tolvak/commands/indicator.h"
#include "tolvak/commands/platform_commands.h"
#include "tolvak/commands/ports.h"
#include "tolvak/commands/read.h"
#include "tolvak/commands/replay.h"
#include "tolvak/commands/service.h"
#include "tolvak/commands/simulate.h"
#include "tolvak/commands/token.h"
#include "tolvak/detect/detect_command.h"
#include "tolvak/serve/serve_command.h"

namespace tolvak::cli {

namespace {

// --- the table of commands -------------------------------------------------------------------

const std::vector<Command>& commands() {
    static const std::vector<Command> table = [] {
        std::vector<Command> list = {
            {"read", "", "Open the port with OpenComm and print the weight at every display write.",
             bindRead,
             "A reading is stable when the display has stayed within --stable-tolerance of it for "
             "a\n"
             "whole --stable-window (never sooner after the port opens); --json says so in "
             "\"stable\".\n"
             "Exit status: 0 stopped (Ctrl-C, --once), 1 the port went away, 2 the port could not\n"
             "be opened (the message box text is on stderr), 3 --timeout ran out, 64 bad usage.\n"
             "With --follow the port going away or missing is waited out instead (1 and 2 never).\n"
             "Errors of the receive handler go to stderr ('receive error 6: Overflow'), each one "
             "at\n"
             "most once a second; with --json also to stdout as {\"error\":{\"number\":6,...}}.\n"},
            {"serve", "",
             "Serve the weight to web pages and programs: a page, JSON, SSE and WebSocket.",
             bindServe,
             "The page is at http://127.0.0.1:8111/ by default. GET /api/weight answers the "
             "latest\n"
             "reading, /api/events streams Server-Sent Events, /ws a WebSocket (JSON messages),\n"
             "/healthz tells that it runs. The port is retried every second while the device is\n"
             "missing or unplugged; clients stay connected and are told. Pages from other origins\n"
             "and requests by other host names are refused unless allowed. Ctrl-C stops.\n"
             "Several indicators: --scale NAME=DEVICE[,KEY=VALUE...] each; GET /api/scales lists\n"
             "them, /api/scales/NAME/weight and ?scale=NAME (or *) on /api/events and /ws give\n"
             "one (or all); the paths above stay the default scale's: the one named 'scale' (one\n"
             "given the old way) or else the first (docs/scales.md).\n"},
            {"token", "FILE", "Make or renew the token that serve's commands must bear.", bindToken,
             "Writes 32 random bytes in hex to FILE, readable by its owner alone (a file it\n"
             "replaces keeps who may read it). serve --token-file FILE reads it at every command,\n"
             "so a renewed token takes effect at once; give it to the web application, which "
             "sends\n"
             "it as 'Authorization: Bearer TOKEN'.\n"
             "Exit status: 0 written, 1 the file could not be written, 64 bad usage.\n"},
            {"ports", "", "List the serial ports of this computer, with what tells them apart.",
             bindPorts,
             "Linux: each tty that belongs to a device (ttyS, ttyUSB, ttyACM...), its driver, the\n"
             "USB adapter's name and vendor:product, and its /dev/serial/by-id names, which stay\n"
             "the same whichever socket the adapter is in: give one of them to --device.\n"
             "Windows: each COM port with the name Device Manager shows and its driver.\n"},
            {"service", "ACTION",
             "Run serve as a Windows service: install, uninstall, start, stop, status.",
             bindService,
             "install [serve's options] registers a service that runs 'tolvak serve' with those\n"
             "options, starts at boot and is restarted 5 s after a failure (an administrator's\n"
             "console is needed). It runs as the account NT SERVICE\\NAME, not as SYSTEM.\n"
             "Its log: %ProgramData%\\Tolvak\\NAME.log; the token its commands need\n"
             "(--token-file): %ProgramData%\\Tolvak\\NAME.token, made at install, readable by\n"
             "the service and administrators only, renewed by 'tolvak token FILE'. A folder\n"
             "there that is a link or belongs to someone else, or a tolvak.exe that ordinary\n"
             "users may replace, is refused. uninstall stops and removes it. 'service prepare'\n"
             "makes the folder and token alone (the installer uses it); 'service check [serve's\n"
             "options]' checks them as install does and changes nothing (so does the installer);\n"
             "'service run' is what the service manager starts.\n"
             "Exit status: 0 done, 1 the service manager refused or the service did not get there\n"
             "(the reason on stderr), 64 bad usage.\n"},
            {"replay", "FILE|-",
             "Feed a captured byte stream through the receive handler, without a port.", bindReplay,
             "Prints 'display <text>' for every write of the display and, after each receive\n"
             "event, 'raw <the receive buffer as a JSON string>'. Errors of the receive handler "
             "go\n"
             "to stderr ('receive error 6: Overflow'), each one at most once a second.\n"
             "With --json or --format: the readings as read prints them instead. Every dropped\n"
             "frame (bad checksum 8030, malformed 8031, an answer without a weight 8032) is\n"
             "counted: the first of each kind on stderr with its bytes, the counts at the end, "
             "and\n"
             "with --json each one as {\"error\":...} among the readings.\n"
             "--data-bits 7 clears bit 7 of every byte: a 7E1 or 7O1 line captured as 8 bits.\n"
             "Exit status: 0 readings, 1 the file could not be read, 3 no reading in the whole\n"
             "capture, 64 bad usage.\n"},
            {"detect", "", "Find an indicator's format and line settings from a capture or a port.",
             bindDetect, kDetectNotes},
            {"indicator", "", "A simulated weighing indicator writing frames to a serial line.",
             bindIndicator,
             "Without --weight the weight follows a truck driving on, settling, standing and "
             "driving\n"
             "off (20 s, up to 32000 kg). From --places 2 on, the profile is divided by a power "
             "of\n"
             "ten so that it fits the display: 3200.00 at 2 places, 3.20000 at 5. Default frame:\n"
             "'=' then the 7 display characters least significant first and a sign slot ('0' or\n"
             "'-'): 3.000 is =000.3000.\n"
             "With --format the frames carry the indicator's status where the format has it: in\n"
             "motion until the weight has not changed for half a second, gross or net (--tare), "
             "and\n"
             "the format's zero, tare and print commands are obeyed, each answered with a "
             "frame.\n"},
            {"simulate", "", "Simulated readings: a random weight every two seconds (RndStart).",
             bindSimulate, ""},
            {"host-info", "", "Host name, IPv4 address and MAC address, as the control finds them.",
             bindHostInfo, ""},
        };
        // This system's own commands follow the simulated indicator.
        auto after = list.begin() + 4;
        list.insert(after, platformCommands().begin(), platformCommands().end());
        return list;
    }();
    return table;
}

CommandHelp helpOf(const Command& c, const Options& options) {
    return {std::string("tolvak ") + c.name, c.arguments, c.summary, c.notes, options.defs()};
}

std::string toolHelp() {
    std::vector<CommandHelp> list;
    for (const auto& c : commands())
        list.push_back({c.name, "", c.summary, "", {}});
    return toolHelpText("Reads the weight from a weighbridge indicator on a serial port.", list,
                        "'tolvak COMMAND --help' describes each command; 'tolvak --version' "
                        "prints the version.\n");
}

} // namespace

int runTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty()) {
        err << toolHelp();
        return kExitUsage;
    }
    const std::string& name = args.front();
    if (name == "--help" || name == "-h" || name == "help") {
        out << toolHelp();
        return kExitOk;
    }
    if (name == "--version") {
        out << "tolvak " << TOLVAK_VERSION << '\n';
        return kExitOk;
    }
    const Command* command = nullptr;
    for (const auto& c : commands())
        if (name == c.name) command = &c;
    if (!command) {
        err << "tolvak: unknown command '" << name << "' (see tolvak --help)\n";
        return kExitUsage;
    }
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    try {
        Options options;
        const Run run = command->bind(options);
        if (!options.parse(rest)) {
            out << helpText(helpOf(*command, options));
            return kExitOk;
        }
        return run(out, err);
    } catch (const UsageError& e) {
        err << "tolvak " << name << ": " << e.what() << " (see tolvak " << name << " --help)\n";
        return kExitUsage;
    } catch (const std::system_error& e) {
        err << "tolvak " << name << ": " << e.what() << '\n';
        return kExitFailure;
    }
}

} // namespace tolvak::cli
