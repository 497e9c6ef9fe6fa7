#include "waiting.h"

#include <cstdio>

#include "clock.h"

namespace zortester {

bool WaitOrSpace(Console& console, int32_t deadline, bool stop_on_space) {
  std::fflush(stdout);
  while (true) {
    if (stop_on_space && console.KeyWaiting()) {
      if (console.InputEnded() || console.ReadKey() == kSpaceKey) return false;
      continue;  // the next key at once
    }
    if (DeadlineReached(deadline, MillisecondClock())) return true;
    SleepMilliseconds(1);
  }
}

void DiscardWaitingKeys(Console& console) {
  while (console.KeyWaiting() && !console.InputEnded()) (void)console.ReadKey();
}

}  // namespace zortester
