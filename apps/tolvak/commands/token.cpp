#include "tolvak/commands/token.h"

#include <ostream>
#include <system_error>

#include "tolvak/cli/command.h"
#include "tolvak/platform/tool_platform.h"
#include "tolvak/serve/token.h"

namespace tolvak::cli {

int runToken(const ParsedArgs& args, std::ostream& out, std::ostream& err) {
    if (args.positional.size() != 1) throw UsageError("needs the token's FILE");
    const std::string& path = args.positional.front();
    try {
        writePrivateFile(path, newToken() + "\n");
    } catch (const std::system_error& e) {
        err << "tolvak token: " << path << ": " << e.what() << '\n';
        return kExitFailure;
    }
    out << "tolvak token: a new token is in " << path
        << "; a running server takes it at its next command\n";
    return kExitOk;
}

} // namespace tolvak::cli
