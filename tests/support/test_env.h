// Shared fixtures: fresh slots per test, virtual time for the library's sleeps, debug-file reading.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "support/fake_line.h"

namespace zor::test {

// Milliseconds the library slept (or the fake line waited) since the last reset.
uint64_t VirtualTime();
void AdvanceVirtualTime(uint64_t ms);
void ResetVirtualTime();

// The whole file; empty when it cannot be read.
std::string ReadWholeFile(const std::filesystem::path& path);
// Time-stamp lines ("Mon Jan 05 09:07:03 2026") replaced by "<time>".
std::string NormaliseStamps(const std::string& text);

// Each test starts with freshly loaded slots, a fake device behind every port, virtual time,
// and a scratch folder; unloading at the end closes every port and debug file.
class SlotTest : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;

  // Opens the debug file of a slot in the scratch folder.
  void OpenDebug(uint16_t port = 7);
  // The debug file of the slot after closing it, time stamps normalised.
  std::string DebugText(uint16_t port = 7);
  // The entries after the header, time stamps normalised, the closing entry left out.
  std::string DebugEntries(uint16_t port = 7);
  std::filesystem::path DebugPath(uint16_t port = 7) const;

  std::shared_ptr<FakeDevice> device = std::make_shared<FakeDevice>();
  std::filesystem::path scratch;

private:
  std::unique_ptr<FakeLineGuard> guard_;
};

// Slot 7 open on a connected, ready device with its debug file open; Answer() scripts the replies.
class DeviceTest : public SlotTest {
protected:
  static constexpr uint16_t kPort = 7;
  void SetUp() override;
  // Answers the next commands with these replies, one each, and forgets what was written so far.
  void Answer(std::vector<std::string> replies);
  int32_t LastStatus() const;
  // The last debug entry (time stamps normalised), without its time stamp.
  std::string LastEntry();
};

}  // namespace zor::test
