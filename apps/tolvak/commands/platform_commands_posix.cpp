#include "tolvak/commands/platform_commands.h"

#include "tolvak/commands/demo.h"

namespace tolvak::cli {

const std::vector<Command>& platformCommands() {
    static const std::vector<Command> commands = {demoCommand()};
    return commands;
}

} // namespace tolvak::cli
