#pragma once

// Indicator output formats. Each format is a pure decoder from the bytes of the line to frames
// (value, unit, gross/net/tare, the indicator's own stable flag, overload/underload and the
// frame's bytes), an encoder for the simulator, and the commands its protocol defines. Formats
// are found by name in one registry; fit() judges any decoder on a capture without knowing
// which format it is, so that a format can be found by trying them all.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvak::formats {

enum class WeightMode { Unknown, Gross, Net, Tare };
enum class Range { InRange, Overload, Underload };

// Receive errors for frames that are dropped (numbers beside the serial component's own).
constexpr int32_t kBadChecksumError = 8030;    // "Bad checksum: frame dropped"
constexpr int32_t kMalformedFrameError = 8031; // "Malformed frame: dropped"
constexpr int32_t kNoWeightError = 8032;       // "No weight: the indicator is busy or moving"

// One frame found in the stream.
struct Frame {
    enum class Status {
        Ok,          // a reading
        BadChecksum, // complete, but the checksum does not match: nothing of it may be shown
        Malformed,   // framed, but not what the format says (cut short, bad digits)
        NoWeight,    // a good answer that holds no weight: busy, in motion, an error code
    };
    Status status = Status::Ok;
    std::string raw;             // the frame's bytes as received
    std::string text;            // the weight as shown: "12.5", "-20"; the control's display text
    std::optional<double> value; // none when the frame carries no number
    std::string unit;            // "kg", "lb", "g", "t"...; empty when the frame has none
    WeightMode mode = WeightMode::Unknown;
    std::optional<bool> stable; // the indicator's own flag; none when the format has none
    Range range = Range::InRange;
    std::optional<double> tare; // a tare the frame carries besides the weight
};

// Cuts frames from a byte stream and decodes them. Bytes come in chunks as the line delivers
// them; a frame split across chunks is decoded once it is complete, whatever the split. A
// decoder keeps at most an unfinished frame (bounded), nothing it has handed out.
class Decoder {
  public:
    virtual ~Decoder() = default;
    // Appends the frames that bytes complete to out.
    virtual void feed(std::string_view bytes, std::vector<Frame>& out) = 0;
    // Bytes dropped so far as noise outside any frame.
    uint64_t skipped() const { return m_skipped; }

  protected:
    uint64_t m_skipped = 0;
};

// The settings a format may take; each format reads the ones it knows.
struct Settings {
    // The control's own format, as its setters take them.
    int16_t decimals = 0;
    int16_t eloadPrebits = 0;
    int16_t eloadBits = 8;
    bool newLineSeparates = true;
    bool carriageReturnSeparates = true;
    std::string otherSeparator = "=";
    bool reversed = true;
    // The user-defined format: a regular expression with named groups (value, unit, status,
    // mode, tare).
    std::string pattern;
    // What its groups capture, mapped: "stable=S,ST", "net=N", "kg=K" (see docs/formats.md).
    std::vector<std::string> map;
};

// Which of the settings a format reads; an option for one it does not read is refused.
enum SettingsUsed : unsigned {
    kUsesDecimals = 1, // implied decimals, for frames without a point
    kUsesFraming = 2,  // the control's separators, minimum length and digit order
    kUsesPattern = 4,  // pattern and map
};

// What the simulator sends: one reading of the indicator.
struct Sample {
    double weight = 0; // gross, or net when mode is Net
    int places = 0;    // digits after the decimal point
    bool stable = true;
    WeightMode mode = WeightMode::Gross;
    double tare = 0;
    Range range = Range::InRange;
    std::string unit = "kg";
};

// The bytes that ask the indicator for something; empty when the protocol has no such command.
struct Commands {
    std::string zero;
    std::string tare;
    std::string print; // a print request: the indicator answers with one frame
    std::string poll;  // what a host sends for each reading when the indicator only answers
};

struct Format {
    std::string_view name;
    std::string_view summary;
    std::string_view example; // one frame as bytes
    // Throws std::invalid_argument with a message for the user when the settings cannot work.
    std::unique_ptr<Decoder> (*make)(const Settings&);
    // One frame for the sample; throws std::out_of_range when it does not fit the frame.
    std::string (*encode)(const Sample&);
    Commands commands;
    unsigned uses = 0; // SettingsUsed
};

// Every format, the control's own first (the default).
const std::vector<const Format*>& allFormats();
// Nullptr for an unknown name.
const Format* findFormat(std::string_view name);
// "control, line, ..." for messages.
std::string formatNames();

// How well a capture decodes.
struct Fit {
    uint64_t frames = 0;       // readings with a number
    uint64_t rejected = 0;     // frames dropped: bad checksum, malformed, no number
    uint64_t noWeight = 0;     // good answers without a weight: neither for nor against
    uint64_t coveredBytes = 0; // bytes inside the readings with a number
    uint64_t bytes = 0;
    double confidence = 0; // 0: nothing fits; 1: every byte in a good frame, enough of them
};
// Feeds bytes to decoder (in chunks of chunkSize, 0 for one) and judges the frames.
Fit fit(Decoder& decoder, std::string_view bytes, size_t chunkSize = 0);

// --- pieces the formats share -------------------------------------------------------------

// Frames that are lines ending in CR, LF, CR LF or ETX; an STX starts a frame afresh (what came
// before it is noise). A line longer than maxLine is noise.
class LinesDecoder : public Decoder {
  public:
    explicit LinesDecoder(size_t maxLine = 64) : m_maxLine(maxLine) {}
    void feed(std::string_view bytes, std::vector<Frame>& out) override;

  protected:
    // raw ends in its CR, LF or ETX, and may start with an STX.
    virtual Frame decodeLine(std::string raw) = 0;
    // raw without the STX in front and the byte that ended it.
    static std::string_view body(const std::string& raw);

  private:
    size_t m_maxLine;
    std::string m_line;
};

// Frames of a fixed length that start with STX and have endByte at endIndex. Bytes before an
// STX are noise; a frame cut short by the next STX is malformed.
class StxDecoder : public Decoder {
  public:
    static constexpr char kStx = 0x02;
    StxDecoder(size_t length, size_t endIndex, char endByte)
        : m_length(length), m_endIndex(endIndex), m_endByte(endByte) {}
    void feed(std::string_view bytes, std::vector<Frame>& out) override;

  protected:
    // raw is m_length bytes, STX first and endByte in its place.
    virtual Frame decodeFrame(std::string raw) = 0;

  private:
    size_t m_length;
    size_t m_endIndex;
    char m_endByte;
    std::string m_pending;
};

// --- --------------------------------------------------------------

// A weight as indicators print it: blanks, an optional sign (blanks may follow it), digits with
// at most one decimal point or comma, blanks. Text comes out normalised: "-12.50", "0.5", "120".
struct Number {
    std::string text;
    double value = 0;
};
// Without a point in text, impliedPlaces of the digits are decimals ("0800", 3 → 0.800).
std::optional<Number> parseNumber(std::string_view text, int impliedPlaces = 0);
// digits (optionally signed) with places of them after the point: "-001250", 2 → -12.50.
std::optional<Number> scaledNumber(std::string_view digits, int places, bool negative);
// The weight's magnitude with places decimals, zero-padded to width: (12.5, 2, 8) → "00012.50";
// width 0: unpadded. Throws std::out_of_range when it does not fit.
std::string paddedNumber(double magnitude, int places, size_t width);
// The XOR of bytes as two upper-case hex digits.
std::string xorHex(std::string_view bytes);

// A weight among words, as text lines and continuous streams carry it: "   0.360 kg   ?G",
// "W: +12.5 kg NT", "\x02   120.4KGM", "+031460.  lb g  ". Finds the one number (or the first
// of several wide fields), the unit from a table, and the status words and letters wherever
// they stand; other words are labels. A frame or its absence of a number decides the status.
// letterCodesFirst: a word like "KG" is the stream's unit and gross letters, not kilograms.
void decodeWords(std::string_view text, int impliedPlaces, Frame& frame,
                 bool letterCodesFirst = false);
// The unit for an indicator's spelling of it ("KG", "lbs", "L"), empty when it is none.
std::string_view unitOf(std::string_view word, bool oneLetter);

} // namespace tolvak::formats
