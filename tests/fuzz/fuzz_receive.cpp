// The receive path (MSComm1's receive event, the frame passes, the display) with settings, chunk
// cuts and streams the fuzzer chooses.
//
// Input, front to back:
//   flags         bit 0: newLineSep 1 (else 0); bit 1: enterKeySep 1; bit 2: reverseFrame 1;
//                 bit 3: fixed-length frames (below); bits 4-5: length of otherSep, 0 to 3
//   decimals, eloadBits, eloadPrebits      16-bit, little-endian
//   otherSep      its characters
//   cuts          a count, then that many chunk lengths, used in turn (0: an event with nothing
//   new) with fixed-length frames: frame length - 1 (0-31), which enabled separator, repeats - 1
//   (0-15) the stream    the rest, one byte to one character
//
// Invariants: no crash or sanitizer report; rawData holds at most 4096 characters after every
// event; every display text is "0" or reads back as the number it shows. With fixed-length frames
// the rest of the input becomes frames of exactly the minimum frame length, free of separator
// characters, each after one separator, the whole repeated: the display texts must then be the
// same whether the stream arrives in one chunk or cut as the cuts say.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "acquisition/frame_parser.h"
#include "fakes.h"
#include "fuzz_support.h"

namespace tolvak::fuzz {
namespace {

// Enough for a stream to push a stuck frame out of the 4096-character buffer several times over,
// small enough that one-character cuts stay fast.
constexpr size_t kMaxStream = 32768;

struct Settings {
    int16_t decimals = 0;
    int16_t eloadBits = 8;
    int16_t eloadPrebits = 0;
    bool newLineSep = true;
    bool enterKeySep = true;
    bool reverse = true;
    std::u16string otherSep;
};

// The display texts in the order they are written, each checked as it is written.
class DisplayLog : public SurfaceObserver {
  public:
    void textChanged(ChildId id, std::u16string_view text) override {
        if (id != ChildId::lblNumber) return;
        if (text != u"0" && !readsBackAsItself(text))
            fail("display text " + quoted(text) + " does not read back as the number it shows");
        texts.emplace_back(text);
    }
    std::vector<std::u16string> texts;
};

std::vector<std::u16string> displayTexts(const Settings& s, std::u16string_view stream,
                                         const std::vector<size_t>& cuts) {
    testing::Harness h;
    h.serial->journal.entries = nullptr;
    DisplayLog log;
    h.control->surface().setObserver(&log);
    h.control->setDecimals(s.decimals);
    h.control->setEloadbits(s.eloadBits);
    h.control->setEloadPrebits(s.eloadPrebits);
    h.control->setNewLineSepChar(s.newLineSep ? 1 : 0);
    h.control->setEnterkeySepChar(s.enterKeySep ? 1 : 0);
    h.control->setIsReservChar(s.reverse ? 1 : 0);
    h.control->setOtherSepChar(s.otherSep);
    h.control->OpenComm();
    size_t at = 0;
    for (size_t event = 0; at < stream.size() || event == 0; ++event) {
        size_t n = cuts.empty() ? stream.size() : cuts[event % cuts.size()];
        n = std::min(n, stream.size() - at);
        h.serial->receive(std::u16string(stream.substr(at, n)));
        h.serial->writes.clear();
        at += n;
        size_t held = h.control->getRawData().size();
        if (held > kRawDataLimit)
            fail("rawData holds " + std::to_string(held) + " characters after event " +
                 std::to_string(event));
    }
    h.control->surface().setObserver(nullptr);
    return log.texts;
}

bool holds(std::u16string_view text, char16_t c) {
    return text.find(c) != std::u16string_view::npos;
}

// Frames of exactly `length` characters from body, with no character of any separator in them,
// each after `separator`, the whole repeated. Empty when the separator shares a character with
// another enabled separator: that pass would then cut the stream too, and where it cuts depends
// on what has arrived.
std::u16string fixedLengthStream(std::u16string_view body, size_t length,
                                 const std::vector<std::u16string>& separators, size_t chosen,
                                 size_t repeats) {
    const std::u16string& separator = separators[chosen];
    for (size_t i = 0; i < separators.size(); ++i)
        for (char16_t c : separators[i])
            if (i != chosen && holds(separator, c)) return {};
    auto inSeparator = [&](char16_t c) {
        for (const std::u16string& s : separators)
            if (holds(s, c)) return true;
        return false;
    };
    // At most five characters are taken by separators: one of these is free.
    char16_t replacement = u'0';
    for (char16_t c : std::u16string_view(u"0123456789-.E")) {
        if (!inSeparator(c)) {
            replacement = c;
            break;
        }
    }
    std::u16string frames;
    for (size_t at = 0; at + length <= body.size(); at += length) {
        frames += separator;
        for (char16_t c : body.substr(at, length))
            frames += inSeparator(c) ? replacement : c;
    }
    std::u16string stream;
    for (size_t i = 0; i < repeats && stream.size() + frames.size() <= kMaxStream; ++i)
        stream += frames;
    return stream;
}

void checkSameTexts(const std::vector<std::u16string>& whole,
                    const std::vector<std::u16string>& cut) {
    size_t i = 0;
    while (i < whole.size() && i < cut.size() && whole[i] == cut[i])
        ++i;
    if (i == whole.size() && i == cut.size()) return;
    auto at = [&](const std::vector<std::u16string>& texts) {
        return i < texts.size() ? quoted(texts[i]) : std::string("nothing");
    };
    fail("fixed-length frames: display write " + std::to_string(i) + " is " + at(whole) +
         " for the whole stream but " + at(cut) + " when it is cut (" +
         std::to_string(whole.size()) + " writes against " + std::to_string(cut.size()) + ")");
}

void run(InputReader& in) {
    uint8_t flags = in.byte();
    Settings s;
    s.newLineSep = flags & 1;
    s.enterKeySep = flags & 2;
    s.reverse = flags & 4;
    bool fixedLength = flags & 8;
    s.decimals = in.int16();
    s.eloadBits = in.int16();
    s.eloadPrebits = in.int16();
    s.otherSep = in.text((flags >> 4) & 3);
    std::vector<size_t> cuts(in.byte());
    for (size_t& cut : cuts)
        cut = in.byte();
    bool cutsSomething = false;
    for (size_t cut : cuts)
        cutsSomething |= cut > 0;
    if (!cutsSomething) cuts.clear();

    if (!fixedLength) {
        std::u16string stream = in.text(kMaxStream);
        displayTexts(s, stream, cuts);
        return;
    }
    size_t length = 1 + in.byte() % 32;
    uint8_t chosen = in.byte();
    size_t repeats = 1 + in.byte() % 16;
    std::vector<std::u16string> separators;
    if (s.newLineSep) separators.emplace_back(u"\n");
    if (s.enterKeySep) separators.emplace_back(u"\r");
    if (!s.otherSep.empty()) separators.push_back(s.otherSep);
    if (separators.empty()) return;
    // The minimum frame length is the frame length, however it is split between the two.
    int bits = static_cast<int>(length) - s.eloadPrebits;
    if (bits > INT16_MAX) {
        s.eloadPrebits = 0;
        bits = static_cast<int>(length);
    }
    s.eloadBits = static_cast<int16_t>(bits);
    std::u16string stream =
        fixedLengthStream(in.rest(), length, separators, chosen % separators.size(), repeats);
    if (stream.empty()) return;
    std::vector<std::u16string> whole = displayTexts(s, stream, {});
    if (!cuts.empty()) checkSameTexts(whole, displayTexts(s, stream, cuts));
}

} // namespace
} // namespace tolvak::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tolvak::fuzz::InputReader in(data, size);
    tolvak::fuzz::run(in);
    return 0;
}
