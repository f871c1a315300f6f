#include "tolvak/output/led_display.h"

namespace tolvak::cli {

namespace {

struct Glyph {
    char c;
    const char* rows[kLedRows];
};

// A 3x5 seven-segment-like font; every cell is drawn two blocks wide.
constexpr Glyph kGlyphs[] = {
    {'0', {"###", "# #", "# #", "# #", "###"}}, {'1', {"  #", "  #", "  #", "  #", "  #"}},
    {'2', {"###", "  #", "###", "#  ", "###"}}, {'3', {"###", "  #", "###", "  #", "###"}},
    {'4', {"# #", "# #", "###", "  #", "  #"}}, {'5', {"###", "#  ", "###", "  #", "###"}},
    {'6', {"###", "#  ", "###", "# #", "###"}}, {'7', {"###", "  #", "  #", "  #", "  #"}},
    {'8', {"###", "# #", "###", "# #", "###"}}, {'9', {"###", "# #", "###", "  #", "###"}},
    {'-', {"   ", "   ", "###", "   ", "   "}}, {'+', {"   ", " # ", "###", " # ", "   "}},
    {'E', {"###", "#  ", "###", "#  ", "###"}}, {'.', {" ", " ", " ", " ", "#"}},
    {' ', {"   ", "   ", "   ", "   ", "   "}},
};

const Glyph& glyphFor(char c) {
    for (const auto& g : kGlyphs)
        if (g.c == c) return g;
    return kGlyphs[sizeof kGlyphs / sizeof kGlyphs[0] - 1];
}

} // namespace

std::vector<std::string> renderLed(std::string_view text) {
    std::vector<std::string> rows(kLedRows);
    for (char c : text) {
        const Glyph& g = glyphFor(c);
        for (int r = 0; r < kLedRows; ++r) {
            for (const char* p = g.rows[r]; *p; ++p)
                rows[r] += *p == '#' ? "\u2588\u2588" : "  ";
            rows[r] += "  ";
        }
    }
    return rows;
}

std::string LedScreen::frame(std::string_view weight, std::string_view rawChunk,
                             std::string_view status) const {
    const std::string clearLine = "\x1b[K\n";
    std::string out = "\x1b[H";
    out += m_title + clearLine + clearLine;
    for (const auto& row : renderLed(weight)) {
        out += "  ";
        out += m_colour ? "\x1b[1;31m" + row + "\x1b[0m" : row;
        out += clearLine;
    }
    out += clearLine;
    out += "  raw: ";
    out += rawChunk;
    out += clearLine;
    out += "  ";
    out += status;
    out += clearLine;
    out += "\x1b[J";
    return out;
}

std::string LedScreen::enter() {
    return "\x1b[2J\x1b[?25l";
}
std::string LedScreen::leave() {
    return "\x1b[?25h";
}

} // namespace tolvak::cli
