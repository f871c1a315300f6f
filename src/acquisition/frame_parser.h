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
// an unfinished last piece with the separator in front of it. A frame whose number cannot be
// scaled is consumed all the same and the pass goes on; the first such error is thrown at its
// end. An error of the display, or a minimum length beyond 16 bits, ends the pass where it
// happens and leaves rawData as it was.
void parseFrames(ControlState& state, SurfaceModel& surface, std::u16string_view separator);

// The characters of text, last first.
std::u16string reverseText(std::u16string_view text);

// Drops the oldest characters of rawData beyond kRawDataLimit.
void capRawData(ControlState& state);

} // namespace tolvak
