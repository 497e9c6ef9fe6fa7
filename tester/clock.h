// The tester's time: a millisecond clock counted from the start of the program, and sleeping.
#pragma once

#include <cstdint>

namespace zortester {

// Milliseconds since the program started; wraps after about 24.8 days.
int32_t MillisecondClock();
void SleepMilliseconds(uint32_t milliseconds);

// Deadlines on the millisecond clock, wrapping with it: a deadline is reached when it lies no
// later than now by signed difference, which holds across the wrap for waits below 24.8 days.
int32_t AdvanceDeadline(int32_t deadline, uint32_t milliseconds);
bool DeadlineReached(int32_t deadline, int32_t now);

}  // namespace zortester
