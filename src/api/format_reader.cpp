#include "api/format_reader.h"

#include <stdexcept>

namespace tolvak {

std::string formatNames() {
    return formats::formatNames();
}

formats::Settings formatSettings(const FrameFormat& f) {
    const auto toShort = [](int value, const char* name) {
        if (value < INT16_MIN || value > INT16_MAX)
            throw std::invalid_argument(std::string(name) + " does not fit 16 bits");
        return static_cast<int16_t>(value);
    };
    formats::Settings s;
    s.decimals = toShort(f.decimals, "decimals");
    s.eloadPrebits = toShort(f.eloadPrebits, "eloadPrebits");
    s.eloadBits = toShort(f.eloadBits, "eloadBits");
    s.newLineSeparates = f.newLineSeparates;
    s.carriageReturnSeparates = f.carriageReturnSeparates;
    s.otherSeparator = f.otherSeparator;
    s.reversed = f.reversed;
    s.pattern = f.pattern;
    s.map = f.map;
    return s;
}

Reading toReading(const formats::Frame& frame, bool stable) {
    Reading r;
    r.text = frame.text;
    r.value = frame.value;
    r.time = std::chrono::system_clock::now();
    r.stable = stable;
    r.unit = frame.unit;
    r.mode = static_cast<WeightMode>(frame.mode);
    r.indicatorStable = frame.stable;
    r.overload = frame.range == formats::Range::Overload;
    r.underload = frame.range == formats::Range::Underload;
    r.tare = frame.tare;
    r.raw = frame.raw;
    return r;
}

FormatReader::FormatReader(const FrameFormat& format, const StableSettings& stable)
    : m_format(formats::findFormat(format.format)), m_stable(stable.window, stable.tolerance) {
    if (!m_format)
        throw std::invalid_argument("unknown format '" + format.format +
                                    "' (known: " + formats::formatNames() + ")");
    m_decoder = m_format->make(formatSettings(format));
}

void FormatReader::setStableSettings(const StableSettings& settings) {
    m_stable.setSettings(settings.window, settings.tolerance);
}

void FormatReader::feed(std::string_view bytes, const std::function<void(Reading)>& onReading,
                        const std::function<void(Error)>& onError) {
    m_frames.clear();
    m_decoder->feed(bytes, m_frames);
    for (const formats::Frame& frame : m_frames) {
        using Status = formats::Frame::Status;
        if (frame.status != Status::Ok) {
            struct Dropped {
                Status status;
                int number;
                const char* text;
            };
            static constexpr Dropped kDropped[] = {
                {Status::BadChecksum, formats::kBadChecksumError, "Bad checksum: frame dropped"},
                {Status::Malformed, formats::kMalformedFrameError, "Malformed frame: dropped"},
                {Status::NoWeight, formats::kNoWeightError,
                 "No weight: the indicator is busy or moving"},
            };
            for (const Dropped& d : kDropped)
                if (d.status == frame.status) {
                    m_dropped = frame.raw;
                    onError(Error{Error::Source::Receive, d.number, d.text, d.text, {}});
                }
            continue;
        }
        const bool timed = m_stable.add(frame.value, StableWeight::Clock::now());
        const bool inRange = frame.range == formats::Range::InRange && frame.value;
        onReading(toReading(frame, frame.stable ? *frame.stable && inRange : timed && inRange));
    }
}

} // namespace tolvak
