#include "sleep.h"

#include <chrono>
#include <thread>

namespace zor {

namespace {
SleepHook g_hook = nullptr;
}

void SleepMs(uint32_t ms) {
  if (g_hook != nullptr) {
    g_hook(ms);
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void SetSleepHook(SleepHook hook) { g_hook = hook; }

}  // namespace zor
