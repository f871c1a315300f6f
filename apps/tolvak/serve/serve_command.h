#pragma once

#include <optional>
#include <string>

#include "tolvak/cli/command.h"
#include "tolvak/cli/control_options.h"
#include "tolvak/cli/scale_list.h"
#include "tolvak/cli/start_options.h"
#include "tolvak/feed/feed_settings.h"
#include "tolvak/publish/mqtt_settings.h"
#include "tolvak/serve/access.h"
#include "tolvak/serve/web_server.h"

namespace tolvak::cli {

// What serve's options come to. The scale given the old way is in control, start and feed (or
// simulate); the scales given with --scale, if any, in scales instead.
struct ServeSettings {
    ControlOptions control;
    StartSettings start;
    FeedOptions feed;
    std::vector<ScaleSetup> scales;
    AccessPolicy policy;
    ServerLimits limits;
    bool commands = false;
    std::optional<std::string> tokenFile;
    MqttSettings mqtt;
    bool simulate = false; // the demo's truck instead of a port
};

// serve's options, bound to settings (the service binds them too).
void bindServeOptions(Options& options, ServeSettings& settings);
// Every scale of the server, in the order given: each --scale, or else the one the options give
// the old way, named kDefaultScaleName.
std::vector<ScaleSetup> serveScales(const ServeSettings& settings);
int runServe(const ServeSettings& settings, std::ostream& out, std::ostream& err);
// tolvak serve: its options bound to its settings, and what runs it.
Run bindServe(Options& options);

} // namespace tolvak::cli
