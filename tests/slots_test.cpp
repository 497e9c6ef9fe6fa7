// The slot table, the slot convention and the status texts.
#include <gtest/gtest.h>

#include "COM-ZOR4.h"
#include "slots.h"
#include "support/test_env.h"

namespace zor::test {
namespace {

using SlotsTest = SlotTest;

TEST_F(SlotsTest, VersionIsOnePointTen) { EXPECT_EQ(COM_ZOR4_Version(), 266); }

TEST_F(SlotsTest, FreshSlotsReportNoErrorAndAnUnopenedPort) {
  for (uint16_t n = 0; n < 8; ++n) {
    EXPECT_EQ(COM_ZOR4_State(n), 0);
    EXPECT_STREQ(COM_ZOR4_ErrorMessage(n), "No error");
    EXPECT_EQ(COM_ZOR4_IO_State(n), 1);
    EXPECT_STREQ(COM_ZOR4_IO_ErrorMessage(n), "Port has not been opened yet");
  }
}

TEST_F(SlotsTest, PortNumbersAboveSevenChangeNothing) {
  FindSlot(0)->LastStatus = -7;
  for (uint16_t n : {uint16_t{8}, uint16_t{9}, uint16_t{65535}}) {
    EXPECT_EQ(COM_ZOR4_State(n), -200);
    EXPECT_EQ(COM_ZOR4_IO_State(n), -200);
    EXPECT_STREQ(COM_ZOR4_ErrorMessage(n), "PortNumber out of range");
    EXPECT_STREQ(COM_ZOR4_IO_ErrorMessage(n), "PortNumber out of range");
    EXPECT_EQ(COM_ZOR4_OpenDebugFile(n, (scratch / "x.txt").string().c_str()), -200);
    EXPECT_EQ(COM_ZOR4_CloseDebugFile(n), -200);
  }
  EXPECT_FALSE(std::filesystem::exists(scratch / "x.txt"));
  EXPECT_EQ(COM_ZOR4_State(0), -7);
  for (uint16_t n = 1; n < 8; ++n) EXPECT_EQ(COM_ZOR4_State(n), 0);
}

TEST_F(SlotsTest, SlotWithoutPortAnswersMinus300) {
  UnloadSlots();
  LoadSlots([](uint16_t n) -> COMPort* { return n == 3 ? nullptr : new COMPort(); });
  EXPECT_STREQ(COM_ZOR4_ErrorMessage(3), "No error");
  EXPECT_STREQ(COM_ZOR4_IO_ErrorMessage(3), "Memory for the port was not allocated");
  EXPECT_EQ(COM_ZOR4_State(3), 0 - 300);
  EXPECT_STREQ(COM_ZOR4_ErrorMessage(3), "Memory for the port data could not be allocated");
  FindSlot(3)->LastStatus = 0;
  EXPECT_EQ(COM_ZOR4_IO_State(3), -300);
  EXPECT_EQ(COM_ZOR4_State(3), -300);
  FindSlot(3)->LastStatus = 0;
  EXPECT_EQ(COM_ZOR4_OpenDebugFile(3, (scratch / "x.txt").string().c_str()), -300);
  EXPECT_FALSE(std::filesystem::exists(scratch / "x.txt"));
  EXPECT_EQ(COM_ZOR4_CloseDebugFile(3), -300);
  EXPECT_STREQ(COM_ZOR4_IO_ErrorMessage(3), "Memory for the port was not allocated");
  // The other slots are not affected.
  EXPECT_EQ(COM_ZOR4_State(2), 0);
  EXPECT_EQ(COM_ZOR4_IO_State(4), 1);
}

TEST_F(SlotsTest, EveryStatusCodeHasItsText) {
  const std::pair<int32_t, const char*> table[] = {
      {0, "No error"},
      {-2, "Error opening the port"},
      {-3, "Error closing the port"},
      {-4, "Error purging the port"},
      {-5, "Error setting the port control lines"},
      {-6, "Error reading the port status lines"},
      {-7, "Error sending command"},
      {-8, "Error sending data"},
      {-9, "Error sending the termination character"},
      {-10, "Error receiving command"},
      {-11, "Error receiving data"},
      {-12, "Error receiving the termination character"},
      {-13, "Wrong command received"},
      {-14, "Wrong argument received"},
      {-15, "Wrong argument passed to the function"},
      {-50, "Channel not implemented"},
      {-51, "Current sensor not implemented"},
      {-100, "Device not connected"},
      {-101, "Device not ready"},
      {-102, "Device state could not be set to not ready"},
      {-300, "Memory for the port data could not be allocated"},
      {-400, "Error opening the file for debugging output"},
      {-401, "Error closing the file for debugging output"},
      {-1, "Unknown error"},
      {-200, "Unknown error"},
      {1, "Unknown error"},
      {-16, "Unknown error"},
  };
  for (const auto& [code, text] : table) {
    FindSlot(5)->LastStatus = code;
    EXPECT_STREQ(COM_ZOR4_ErrorMessage(5), text) << code;
    EXPECT_EQ(COM_ZOR4_State(5), code);
  }
}

TEST_F(SlotsTest, IoStateFollowsThePortAndLeavesLastStatusAlone) {
  FindSlot(6)->LastStatus = -101;
  FindSlot(6)->Port->PortError = 12;
  EXPECT_EQ(COM_ZOR4_IO_State(6), 12);
  EXPECT_STREQ(COM_ZOR4_IO_ErrorMessage(6), "Device is busy");
  EXPECT_EQ(COM_ZOR4_State(6), -101);
}

TEST_F(SlotsTest, UnloadClosesDebugFilesAndPorts) {
  OpenDebug(2);
  ASSERT_TRUE(FindSlot(2)->Port->Open(uint8_t{5}));
  device->log.clear();
  UnloadSlots();
  EXPECT_EQ(device->log, (std::vector<std::string>{"RTS off", "DTR off", "close"}));
  const std::string text = NormaliseStamps(ReadWholeFile(DebugPath(2)));
  const std::string closing = "\n<time>\nFile closed by COM_ZOR4_CloseDebugFile\n";
  ASSERT_GE(text.size(), closing.size());
  EXPECT_EQ(text.substr(text.size() - closing.size()), closing);
  LoadSlots();
}

}  // namespace
}  // namespace zor::test
