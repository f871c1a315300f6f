#pragma once

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "control/null_components.h"
#include "control/tolvak.h"
#include "tolvak/cli_args.h"

namespace tolvak::cli {

// A control configured by the given options, fed through its receive handler. Writes
// "display <text>" for every write of the display and, after each event, "raw <rawData as
// JSON>".
class Replayer : private SurfaceObserver {
  public:
    Replayer(const ParsedArgs& options, std::ostream& out);
    ~Replayer() override;

    // One receive event with exactly these bytes.
    void feed(std::string_view chunk);
    // chunkSize bytes per event (0: all as one event).
    void feedAll(std::string_view bytes, size_t chunkSize);
    // Where the errors of the receive handler go.
    void setReceiveErrorSink(std::function<void(const AutomationError&)> sink) {
        m_control->setReceiveErrorSink(std::move(sink));
    }

  private:
    void textChanged(ChildId id, std::u16string_view text) override;

    std::ostream& m_out;
    NullSerialControl* m_port;
    std::unique_ptr<Tolvak> m_control;
};

} // namespace tolvak::cli
