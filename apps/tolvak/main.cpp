#include <iostream>
#include <string>
#include <vector>

#include "tolvak/feed/stop_request.h"
#include "tolvak/platform/tool_platform.h"
#include "tolvak/tool.h"

int main(int argc, char** argv) {
    tolvak::cli::prepareConsole();
    tolvak::cli::watchStopRequests(&tolvak::cli::StopRequest::signal);
    std::vector<std::string> args(argv + 1, argv + argc);
    return tolvak::cli::runTool(args, std::cout, std::cerr);
}
