// Millisecond sleeps of the library, with a seam so tests can run the bounded waits in virtual time.
#pragma once

#include <cstdint>

namespace zor {

void SleepMs(uint32_t ms);

using SleepHook = void (*)(uint32_t ms);
// nullptr restores real sleeping.
void SetSleepHook(SleepHook hook);

}  // namespace zor
