#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvak {

// What rawData may keep after a receive event: a stream in which no enabled separator occurs must
// not grow it without bound.
constexpr size_t kRawDataLimit = 4096;

// One complete frame as the display shows it: its text, and its number when the frame is one (a
// frame that is not a number shows "0" and has none).
struct DecodedFrame {
    std::u16string text;
    std::optional<double> value;
};

// Splits text at separator and appends the complete frames to frames (views into text). Every
// piece but the last is followed by a separator; only the last can be unfinished, so short
// pieces before it are dropped rather than glued to later input. Returns how many leading
// characters are used up: what follows (the separator in front of an unfinished last piece, and
// the piece) is kept for the next event. Without a separator in text nothing is used up. Throws 6
// "Overflow" when the minimum length eloadBits + eloadPrebits does not fit 16 bits.
size_t splitFrames(std::u16string_view text, std::u16string_view separator, int16_t eloadBits,
                   int16_t eloadPrebits, std::vector<std::u16string_view>& frames);

// Decodes complete frames with one pass's settings: the characters last first when reverseFrame
// is 1, the number divided by 10 to the power decimals.
class FrameDecoder {
  public:
    explicit FrameDecoder(int16_t decimals = 0, int16_t reverseFrame = 0) {
        reset(decimals, reverseFrame);
    }

    // Settings for the next pass. A decoder kept from pass to pass keeps its working space, so
    // the receive path allocates nothing per frame for it.
    void reset(int16_t decimals, int16_t reverseFrame) {
        m_decimals = decimals;
        m_reversed = reverseFrame == 1;
        m_divisor.reset();
    }

    // Throws 6 "Overflow" or 11 "Division by zero" when the number cannot be scaled; out is
    // then left as it was.
    void decode(std::u16string_view frame, DecodedFrame& out);
    DecodedFrame decode(std::u16string_view frame) {
        DecodedFrame out;
        decode(frame, out);
        return out;
    }

  private:
    int16_t m_decimals = 0;
    bool m_reversed = false;
    std::optional<double> m_divisor; // worked out once per pass, when first needed
    std::u16string m_scratch;        // the reversed frame
};

// The characters of text, last first.
std::u16string reverseText(std::u16string_view text);

// Drops the oldest characters of text beyond kRawDataLimit.
void capRawData(std::u16string& text);

} // namespace tolvak
