#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tolvak::cli {

constexpr int kLedRows = 5;

// The weight as large LED-style digits: kLedRows lines of block characters (UTF-8), no colour.
// Characters with no glyph show as a blank cell.
std::vector<std::string> renderLed(std::string_view text);

// The demo's screen: the big red weight, the last raw chunk and a status line, redrawn in place.
class LedScreen {
  public:
    LedScreen(std::string title, bool colour) : m_title(std::move(title)), m_colour(colour) {}
    // The whole screen, as terminal output that overwrites the previous one.
    std::string frame(std::string_view weight, std::string_view rawChunk,
                      std::string_view status) const;
    static std::string enter(); // clear, hide the cursor
    static std::string leave(); // show the cursor again

  private:
    std::string m_title;
    bool m_colour;
};

} // namespace tolvak::cli
