#pragma once

#include "control/tolvak.h"

namespace tolvak::win32 {

// The platform parts of one control, built on the calling thread (the control's apartment
// thread): the receive event and the timer's ticks are delivered there.
Platform makePlatform();

} // namespace tolvak::win32
