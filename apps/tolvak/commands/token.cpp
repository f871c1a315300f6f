#include "tolvak/commands/token.h"

#include <memory>
#include <optional>
#include <ostream>
#include <system_error>

#include "tolvak/cli/command.h"
#include "tolvak/platform/tool_platform.h"
#include "tolvak/serve/token.h"

namespace tolvak::cli {

namespace {

int runToken(const std::string& path, std::ostream& out, std::ostream& err) {
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

} // namespace

Run bindToken(Options& options) {
    auto files = std::make_shared<std::vector<std::string>>();
    options.arguments(*files);
    options.check([files] {
        if (files->size() != 1) throw UsageError("needs the token's FILE");
    });
    return [files](std::ostream& out, std::ostream& err) {
        return runToken(files->front(), out, err);
    };
}

} // namespace tolvak::cli
