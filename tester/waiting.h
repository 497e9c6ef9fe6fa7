// Timed waits on the millisecond clock that SPACE can cut short, used by the cycle and the test
// protocol.
#pragma once

#include <cstdint>

#include "console.h"

namespace zortester {

constexpr int kSpaceKey = 0x20;

// Waits until the clock reaches `deadline` and returns true. With `stop_on_space` the keyboard is
// looked at in every pass, also once the deadline has passed, so SPACE is never missed: SPACE (or
// the end of the input, after which no SPACE can come) returns false, other keys are dropped.
// Without it no key is read. Flushes the output first, so that what was printed shows meanwhile.
bool WaitOrSpace(Console& console, int32_t deadline, bool stop_on_space);

// Reads and drops every key press that is waiting.
void DiscardWaitingKeys(Console& console);

}  // namespace zortester
