#pragma once

#include <string>

#include "tolvak/feed/port_status.h"
#include "tolvak/scale.h"

namespace tolvak::cli {

// Where the readings and port states of the scales go, each with its scale's name: the web
// server's hub, and any other listener beside it. Called on the thread of the scale's feed, so a
// sink must hand the work over and return at once: one slow sink would stall that scale.
class ScaleSink {
  public:
    virtual ~ScaleSink() = default;
    virtual void onReading(const std::string& scale, const Reading& reading) = 0;
    virtual void onPortState(const std::string& scale, const PortStatus& port) = 0;
};

} // namespace tolvak::cli
