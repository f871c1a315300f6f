// A weight among words: the text family's one decoder of a frame's body. Indicators put labels,
// status words and units around the number in every order; the tables below are what they mean.
#include <algorithm>
#include <cctype>
#include <vector>

#include "acquisition/formats/format.h"

namespace tolvak::formats {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isLetter(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) != 0;
}

std::string lower(std::string_view word) {
    std::string out(word);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

struct UnitSpelling {
    std::string_view spelled; // lower case
    std::string_view unit;
    bool oneLetter; // the letter codes of continuous streams
};
constexpr UnitSpelling kUnits[] = {
    {"kg", "kg", false}, {"kgs", "kg", false}, {"g", "g", false},    {"gr", "g", false},
    {"t", "t", false},   {"lb", "lb", false},  {"lbs", "lb", false}, {"oz", "oz", false},
    {"ct", "ct", false}, {"k", "kg", true},    {"l", "lb", true},    {"o", "oz", true},
};

enum class Mark { Stable, Motion, Overload, Gross, Net, Tare };
struct Word {
    std::string_view word;
    Mark mark;
};
// Whole words, as written.
constexpr Word kWords[] = {
    {"ST", Mark::Stable}, {"US", Mark::Motion},   {"OL", Mark::Overload}, {"GS", Mark::Gross},
    {"NT", Mark::Net},    {"TR", Mark::Tare},     {"GROSS", Mark::Gross}, {"NET", Mark::Net},
    {"TARE", Mark::Tare}, {"Gross", Mark::Gross}, {"Net", Mark::Net},     {"Tare", Mark::Tare},
};
// Single letters and signs; a word of nothing else is read letter by letter ("?G").
std::optional<Mark> letterMark(char c) {
    switch (c) {
    case '?':
    case 'M':
    case 'm':
        return Mark::Motion;
    case 'G':
    case 'g':
        return Mark::Gross;
    case 'N':
    case 'n':
        return Mark::Net;
    case 'T':
        return Mark::Tare;
    default:
        return std::nullopt;
    }
}

std::optional<Mark> wordMark(std::string_view word) {
    for (const Word& w : kWords)
        if (w.word == word) return w.mark;
    return std::nullopt;
}

// Marks a word holds: a whole word, or letters that are all marks.
bool readMarks(std::string_view word, std::vector<Mark>& marks) {
    if (auto m = wordMark(word)) {
        marks.push_back(*m);
        return true;
    }
    std::vector<Mark> letters;
    for (char c : word) {
        auto m = letterMark(c);
        if (!m) return false;
        letters.push_back(*m);
    }
    marks.insert(marks.end(), letters.begin(), letters.end());
    return !word.empty();
}

// The letter codes of continuous streams: a unit letter, gross or net, then M motion or O over.
bool readLetterCodes(std::string_view word, std::string& unit, std::vector<Mark>& marks) {
    if (word.size() < 2 || word.size() > 3) return false;
    const std::string_view u = unitOf(word.substr(0, 1), true);
    const char mode = static_cast<char>(std::toupper(static_cast<unsigned char>(word[1])));
    if (u.empty() || (mode != 'G' && mode != 'N')) return false;
    if (word.size() == 3 && word[2] != 'M' && word[2] != 'O') return false;
    unit = std::string(u);
    marks.push_back(mode == 'G' ? Mark::Gross : Mark::Net);
    if (word.size() == 3) marks.push_back(word[2] == 'M' ? Mark::Motion : Mark::Overload);
    return true;
}

std::vector<std::string_view> words(std::string_view text) {
    std::vector<std::string_view> out;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && text[i] == ' ')
            ++i;
        const size_t start = i;
        while (i < text.size() && text[i] != ' ')
            ++i;
        if (i > start) out.push_back(text.substr(start, i - start));
    }
    return out;
}

struct Span {
    size_t start, end, digits;
};

// Runs of digits with at most one point or comma in them or after them.
std::vector<Span> numberSpans(std::string_view text) {
    std::vector<Span> spans;
    for (size_t i = 0; i < text.size();) {
        if (!isDigit(text[i])) {
            ++i;
            continue;
        }
        Span s{i, i, 0};
        bool point = false;
        while (s.end < text.size()) {
            const char c = text[s.end];
            if (isDigit(c)) {
                ++s.digits;
            } else if ((c == '.' || c == ',') && !point) {
                point = true;
            } else {
                break;
            }
            ++s.end;
        }
        spans.push_back(s);
        i = s.end;
    }
    return spans;
}

} // namespace

std::string_view unitOf(std::string_view word, bool oneLetter) {
    const std::string l = lower(word);
    for (const UnitSpelling& u : kUnits)
        if (u.spelled == l && (oneLetter || !u.oneLetter)) return u.unit;
    return {};
}

void decodeWords(std::string_view text, int impliedPlaces, Frame& frame, bool letterCodesFirst) {
    // Fields of a fixed width hold the weight first (weight, tare, count); short numbers beside
    // the weight are codes, and which one is the weight cannot be told.
    constexpr size_t kWideField = 4;
    const std::vector<Span> spans = numberSpans(text);
    std::vector<Mark> marks;
    std::string unit;
    bool statusSlot = false; // the frame has a place for the motion flag, blank when still
    size_t numberStart = text.size(), numberEnd = text.size();
    // No display shows more digits than this: a longer run is fields run together.
    constexpr size_t kMostDigits = 10;
    const auto narrow = [&](const Span& s) { return s.digits < kWideField; };
    const auto long_ = [&](const Span& s) { return s.digits > kMostDigits; };
    if (std::any_of(spans.begin(), spans.end(), long_) ||
        (spans.size() > 1 && std::any_of(spans.begin(), spans.end(), narrow))) {
        frame.status = Frame::Status::Malformed;
        return;
    }
    if (!spans.empty()) {
        numberStart = spans.front().start;
        numberEnd = spans.front().end;
        size_t sign = numberStart;
        while (sign > 0 && text[sign - 1] == ' ')
            --sign;
        if (sign > 0 && (text[sign - 1] == '-' || text[sign - 1] == '+')) numberStart = sign - 1;
    }
    // Before the number: labels and status words; a label glued to the number may end in the
    // gross/net letter ("WG004.139").
    const std::string_view before = text.substr(0, numberStart);
    const auto front = words(before);
    const bool gluedBefore = !before.empty() && before.back() != ' ';
    const bool gluedAfter = numberEnd < text.size() && text[numberEnd] != ' ';
    // A label glued to the number is letters, maybe with a colon: other bytes there are a
    // format this is not ("ST,GS,+12.5kg").
    if (gluedBefore &&
        front.back().find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ:") !=
            std::string_view::npos) {
        frame.status = Frame::Status::Malformed;
        return;
    }
    for (size_t i = 0; i < front.size(); ++i) {
        std::string_view w = front[i];
        // Labels are words: bytes with no letter in them are status bytes of another format.
        if (std::none_of(w.begin(), w.end(), isLetter) && !letterMark(w[0])) {
            frame.status = Frame::Status::Malformed;
            return;
        }
        // A label ends in a colon; "Net:" still says net.
        if (w.back() == ':') w.remove_suffix(1);
        if (w.empty()) continue;
        if (auto m = wordMark(w)) {
            marks.push_back(*m);
        } else if (w.size() == 1 && letterMark(w[0])) {
            marks.push_back(*letterMark(w[0]));
        } else if (i + 1 == front.size() && w.size() >= 2 && gluedBefore &&
                   std::string_view("GNT").find(w.back()) != std::string_view::npos) {
            marks.push_back(*letterMark(w.back()));
        }
    }
    // After it: the unit (or the stream's letter codes), then marks; other words are labels.
    const auto back = words(text.substr(numberEnd));
    for (size_t i = 0; i < back.size(); ++i) {
        const std::string_view w = back[i];
        if (i == 0 && unit.empty()) {
            // "KG" is kilograms on a line, K and G (gross) in a stream of letter codes.
            if (letterCodesFirst && readLetterCodes(w, unit, marks)) {
                statusSlot = true;
                continue;
            }
            if (auto u = unitOf(w, w.size() == 1); !u.empty()) {
                unit = std::string(u);
                continue;
            }
            if (readLetterCodes(w, unit, marks)) {
                statusSlot = true;
                continue;
            }
        }
        const size_t seen = marks.size();
        const bool read = readMarks(w, marks);
        // What sticks to the number is its unit or its status; anything else is another format.
        if (i == 0 && gluedAfter && !read) {
            frame.status = Frame::Status::Malformed;
            return;
        }
        if (read && !unit.empty())
            statusSlot = statusSlot || std::any_of(marks.begin() + seen, marks.end(), [](Mark m) {
                             return m == Mark::Gross || m == Mark::Net;
                         });
    }
    auto has = [&](Mark m) { return std::find(marks.begin(), marks.end(), m) != marks.end(); };
    frame.unit = unit;
    if (has(Mark::Gross)) frame.mode = WeightMode::Gross;
    if (has(Mark::Net)) frame.mode = WeightMode::Net;
    if (has(Mark::Tare)) frame.mode = WeightMode::Tare;
    if (has(Mark::Stable) || statusSlot) frame.stable = true;
    if (has(Mark::Motion)) frame.stable = false;
    if (has(Mark::Overload)) {
        // The digits of an overload say nothing; its sign tells over from under.
        frame.stable = false;
        frame.range = numberStart < text.size() && text[numberStart] == '-' ? Range::Underload
                                                                            : Range::Overload;
        frame.text = "OL";
        return;
    }
    auto number = spans.empty() ? std::nullopt
                                : parseNumber(text.substr(numberStart, numberEnd - numberStart),
                                              impliedPlaces);
    if (!number) {
        frame.status = Frame::Status::Malformed;
        return;
    }
    frame.text = number->text;
    frame.value = number->value;
}

} // namespace tolvak::formats
