#include "tolvak/output/reading_printer.h"

#include <ostream>

#include "text/utf8.h"
#include "tolvak/output/text_format.h"

namespace tolvak::cli {

bool ReadingPrinter::print(const Reading& reading) {
    if (m_stableOnly && !reading.stable) return false;
    // Only stable readings count as printed ones then: a weight that moves away and comes
    // back to the same stable value is the same weight.
    if ((m_changesOnly || m_stableOnly) && m_last && *m_last == reading.text) return false;
    // One chunk can carry several frames: --once means one line, not one receive event.
    if (m_once && m_last) return false;
    m_last = reading.text;
    if (m_json)
        m_out << readingJson(reading) << '\n';
    else
        m_out << plainWeight(fromUtf8(reading.text)) << '\n';
    m_out.flush();
    return true;
}

} // namespace tolvak::cli
