// The tester's time: a millisecond clock counted from the start of the program, and sleeping.
#pragma once

#include <cstdint>

namespace zortester {

// Milliseconds since the program started; wraps after about 24.8 days.
int32_t MillisecondClock();
void SleepMilliseconds(uint32_t milliseconds);

}  // namespace zortester
