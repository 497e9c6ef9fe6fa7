#include "clock.h"

#include <chrono>
#include <thread>

namespace zortester {
namespace {
using Clock = std::chrono::steady_clock;
// Taken while the program starts, before main.
const Clock::time_point g_start = Clock::now();
}  // namespace

int32_t MillisecondClock() {
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - g_start);
  return static_cast<int32_t>(static_cast<uint32_t>(elapsed.count()));
}

void SleepMilliseconds(uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace zortester

namespace zortester {

int32_t AdvanceDeadline(int32_t deadline, uint32_t milliseconds) {
  return static_cast<int32_t>(static_cast<uint32_t>(deadline) + milliseconds);
}

bool DeadlineReached(int32_t deadline, int32_t now) {
  return static_cast<int32_t>(static_cast<uint32_t>(now) - static_cast<uint32_t>(deadline)) >= 0;
}

}  // namespace zortester
