#pragma once

#include <iosfwd>
#include <optional>
#include <string>

#include "tolvak/scale.h"

namespace tolvak::cli {

// Which readings are printed, and how (--json, --changes, --stable, --once).
struct PrintSettings {
    bool json = false;
    bool changesOnly = false;
    bool stableOnly = false;
    bool once = false;
};

// Prints readings: a plain line or a JSON object per reading, all of them or only some.
class ReadingPrinter {
  public:
    ReadingPrinter(std::ostream& out, const PrintSettings& settings)
        : m_out(out), m_json(settings.json), m_changesOnly(settings.changesOnly),
          m_stableOnly(settings.stableOnly), m_once(settings.once) {}

    // False when the reading was left out.
    bool print(const Reading& reading);

  private:
    std::ostream& m_out;
    bool m_json;
    bool m_changesOnly;
    bool m_stableOnly;
    bool m_once;
    std::optional<std::string> m_last;
};

} // namespace tolvak::cli
