#pragma once

#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "acquisition/formats/format.h"
#include "acquisition/stable_weight.h"
#include "tolvak/scale.h"

namespace tolvak {

// Readings from the line's bytes in one of the formats, without a port: what a Scale hands out
// for a format other than the control's, and what replay prints.
class FormatReader {
  public:
    // Throws std::invalid_argument for an unknown format or settings it cannot take.
    explicit FormatReader(const FrameFormat& format, const StableSettings& stable = {});

    const formats::Format& format() const { return *m_format; }
    void setStableSettings(const StableSettings& settings);
    // Readings from before a gap say nothing about the weight now.
    void resetStable() { m_stable.reset(); }

    // Calls onReading for each reading the bytes complete and onError for each frame dropped
    // (a bad checksum, a malformed frame, an answer without a weight), in stream order.
    void feed(std::string_view bytes, const std::function<void(Reading)>& onReading,
              const std::function<void(Error)>& onError);

    // The bytes of the frame whose error is being reported.
    const std::string& droppedFrame() const { return m_dropped; }

  private:
    const formats::Format* m_format;
    std::string m_dropped;
    std::unique_ptr<formats::Decoder> m_decoder;
    StableWeight m_stable;
    std::vector<formats::Frame> m_frames;
};

// The control's format settings as a format's.
formats::Settings formatSettings(const FrameFormat& format);
// A frame of a format as a reading, stable as given.
Reading toReading(const formats::Frame& frame, bool stable);

} // namespace tolvak
