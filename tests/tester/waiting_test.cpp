// The timed waits of the cycle and the test protocol, on a scripted console, and the deadlines
// across the wrap of the millisecond clock.
#include <gtest/gtest.h>

#include <climits>
#include <deque>

#include "clock.h"
#include "console.h"
#include "waiting.h"

namespace zortester {
namespace {

// Keys typed ahead; at the end of the input Esc is always waiting, as on a pipe.
class ScriptedConsole final : public Console {
 public:
  ScriptedConsole(std::deque<int> keys, bool ends) : keys_(std::move(keys)), ends_(ends) {}
  bool KeyWaiting() override { return !keys_.empty() || ends_; }
  int ReadKey() override {
    ++reads;
    if (keys_.empty()) return kEscKey;
    const int key = keys_.front();
    keys_.pop_front();
    return key;
  }
  bool InputEnded() override { return keys_.empty() && ends_; }
  int CursorRow() override { return 1; }
  void PlaceCursor(int, int) override {}
  void ClearToEndOfLine() override {}
  void WriteDirect(std::string_view) override {}
  std::optional<std::string> ReadLine() override { return std::nullopt; }

  std::size_t Left() const { return keys_.size(); }
  int reads = 0;

 private:
  std::deque<int> keys_;
  bool ends_;
};

int32_t In(int32_t milliseconds) { return AdvanceDeadline(MillisecondClock(), static_cast<uint32_t>(milliseconds)); }

TEST(WaitOrSpace, SpaceSeenAlsoWhenTheDeadlineHasPassed) {
  ScriptedConsole console({'a', 0x148, kSpaceKey, 'b'}, false);
  EXPECT_FALSE(WaitOrSpace(console, In(-1000), true));
  EXPECT_EQ(console.Left(), 1u);  // the keys before SPACE were dropped, the one after it waits
}

TEST(WaitOrSpace, OtherKeysAreDroppedAndTheWaitGoesOn) {
  ScriptedConsole console({'a', kEscKey, kEnterKey}, false);
  const int32_t started = MillisecondClock();
  EXPECT_TRUE(WaitOrSpace(console, In(30), true));
  EXPECT_GE(MillisecondClock() - started, 30);
  EXPECT_EQ(console.Left(), 0u);
}

TEST(WaitOrSpace, WithoutStopNoKeyIsRead) {
  ScriptedConsole console({kSpaceKey}, true);
  const int32_t started = MillisecondClock();
  EXPECT_TRUE(WaitOrSpace(console, In(20), false));
  EXPECT_GE(MillisecondClock() - started, 20);
  EXPECT_EQ(console.reads, 0);
  EXPECT_TRUE(WaitOrSpace(console, In(-5), false));
}

TEST(WaitOrSpace, EndOfTheInputStopsLikeSpace) {
  ScriptedConsole console({'a'}, true);
  const int32_t started = MillisecondClock();
  EXPECT_FALSE(WaitOrSpace(console, In(10000), true));
  EXPECT_LT(MillisecondClock() - started, 1000);
  EXPECT_EQ(console.reads, 1);  // the key that was there, no Esc of the end
}

TEST(DiscardWaitingKeys, ReadsWhatWaitsAndStopsAtTheEndOfTheInput) {
  ScriptedConsole typed({'a', 0x151, kSpaceKey}, false);
  DiscardWaitingKeys(typed);
  EXPECT_EQ(typed.reads, 3);
  ScriptedConsole ended({'a'}, true);
  DiscardWaitingKeys(ended);
  EXPECT_EQ(ended.reads, 1);
}

TEST(Deadline, ComparedBySignedDifferenceAcrossTheWrap) {
  struct Case {
    int32_t deadline, now;
    bool reached;
  };
  const Case cases[] = {
      {1000, 999, false}, {1000, 1000, true}, {1000, 1001, true},
      {INT32_MAX, INT32_MIN, true},            // 1 ms after the deadline, across the wrap
      {INT32_MIN + 4, INT32_MAX, false},       // 5 ms before it
      {AdvanceDeadline(INT32_MAX - 100, 500), INT32_MAX, false},
      {AdvanceDeadline(INT32_MAX - 100, 500), INT32_MIN + 399, true},
      {-5, 5, true}, {5, -5, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DeadlineReached(c.deadline, c.now), c.reached) << c.deadline << " at " << c.now;
  }
  EXPECT_EQ(AdvanceDeadline(INT32_MAX, 1), INT32_MIN);
  EXPECT_EQ(AdvanceDeadline(-10, 25), 15);
}

}  // namespace
}  // namespace zortester
