#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "acquisition/control_state.h"
#include "control/surface_model.h"

namespace tolvak {

// What rawData may keep after a receive event: a stream in which no enabled separator occurs must
// not grow it without bound.
constexpr size_t kRawDataLimit = 4096;

// Runs one pass per enabled separator (line feed, carriage return, otherSep, in that order) over
// state.rawData, writing every complete frame's weight into lblNumber.
void dispatchFrames(ControlState& state, SurfaceModel& surface);

// One pass: splits rawData at separator, decodes the complete frames, and leaves in rawData only
// an unfinished last piece with the separator in front of it.
void parseFrames(ControlState& state, SurfaceModel& surface, std::u16string_view separator);

// The characters of text, last first.
std::u16string reverseText(std::u16string_view text);

// Drops the oldest characters of rawData beyond kRawDataLimit.
void capRawData(ControlState& state);

} // namespace tolvak
