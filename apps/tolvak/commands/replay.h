#pragma once

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "control/null_components.h"
#include "control/tolvak.h"
#include "tolvak/cli/command.h"
#include "tolvak/cli/control_options.h"
#include "tolvak/scale.h"

namespace tolvak::cli {

// A control configured by the given options, fed through its receive handler. Writes
// "display <text>" for every write of the display and, after each event, "raw <rawData as
// JSON>".
class Replayer : private SurfaceObserver {
  public:
    Replayer(const ControlOptions& options, std::ostream& out);
    ~Replayer() override;

    // One receive event with exactly these bytes.
    void feed(std::string_view chunk);
    // chunkSize bytes per event (0: all as one event).
    void feedAll(std::string_view bytes, size_t chunkSize);
    // Where the errors of the receive handler go.
    void setReceiveErrorSink(std::function<void(const AutomationError&)> sink) {
        m_control->setReceiveErrorSink(std::move(sink));
    }
    // Writes of the display so far.
    uint64_t displayWrites() const { return m_displayWrites; }

  private:
    void textChanged(ChildId id, std::u16string_view text) override;

    std::ostream& m_out;
    uint64_t m_displayWrites = 0;
    NullSerialControl* m_port;
    std::unique_ptr<Tolvak> m_control;
};

// The frames a replay drops: offline every one is reported, not one a second. The first of each
// kind goes to err with its reason and bytes ("tolvak replay: Bad checksum: frame dropped (8030),
// the first of them: \"\u0002+00125021E\u0003\""), the count of each at the end; with --json every
// one is also a JSON error line among the readings.
class DropReport {
  public:
    DropReport(std::ostream& err, std::ostream* json) : m_err(err), m_json(json) {}
    void dropped(const Error& error, std::string_view raw);
    // "tolvak replay: 3 frames dropped: 2 malformed 8031, 1 bad checksum 8030"; nothing when
    // none was.
    void finish();

  private:
    std::ostream& m_err;
    std::ostream* m_json;
    std::vector<std::pair<Error, uint64_t>> m_kinds; // in the order first seen
};

// tolvak replay: its options bound to its settings, and what runs it.
Run bindReplay(Options& options);

} // namespace tolvak::cli
