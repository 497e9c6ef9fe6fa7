// The Win32 serial backend with no scripted line in between: the name rule, and a COM port that
// does not exist (Wine has none behind COM9 here, nor has a test machine).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "COM-ZOR4.h"
#include "serial/line.h"
#include "serial/win32_line.h"
#include "slots.h"
#include "support/test_env.h"

namespace zor::test {
namespace {

TEST(Win32Names, ComNumbersAndPortNamesBecomeDeviceNames) {
  EXPECT_EQ(PlatformPortName(1), "\\\\.\\COM1");
  EXPECT_EQ(PlatformPortName(12), "\\\\.\\COM12");
  EXPECT_EQ(PlatformPortName(255), "\\\\.\\COM255");
  EXPECT_EQ(PlatformPortName(0), "");  // no COM0: the open fails without asking the system

  const struct {
    const char* name;
    const char* device;
  } cases[] = {
      {"COM12", "\\\\.\\COM12"},       {"com3", "\\\\.\\com3"},   {"\\\\.\\COM12", "\\\\.\\COM12"},
      {"COM", "COM"},                   {"COM1x", "COM1x"},        {"CO", "CO"},
      {"", ""},                         {"\\\\.\\pipe\\x", "\\\\.\\pipe\\x"},
  };
  for (const auto& c : cases) EXPECT_EQ(Win32DeviceName(c.name), c.device) << c.name;
}

class MissingPortTest : public ::testing::Test {
protected:
  void SetUp() override {
    LoadSlots();
    debug_ = std::filesystem::temp_directory_path() / "zor-win32-line-test.txt";
    ASSERT_EQ(COM_ZOR4_OpenDebugFile(1, debug_.string().c_str()), 0);
  }
  void TearDown() override {
    UnloadSlots();
    std::filesystem::remove(debug_);
  }
  std::string DebugText() {
    (void)COM_ZOR4_CloseDebugFile(1);
    return NormaliseStamps(ReadWholeFile(debug_));
  }

  std::filesystem::path debug_;
};

TEST_F(MissingPortTest, OpenFailsWithPortError2AndTheDeviceNameInItsLine) {
  EXPECT_EQ(COM_ZOR4_Open(1, 9), -2);
  EXPECT_EQ(COM_ZOR4_State(1), -2);
  EXPECT_EQ(COM_ZOR4_IO_State(1), 2);
  EXPECT_STREQ(COM_ZOR4_IO_ErrorMessage(1), "Cannot open the port");
  const std::string text = DebugText();
  EXPECT_NE(text.find("<time>\nCOMPort::Open: Cannot open the port \\\\.\\COM9\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("<time>\nPortNumber: 1, COM_ZOR4_Open: Error opening the port as COM9\n"),
            std::string::npos)
      << text;
}

TEST_F(MissingPortTest, NamedPortsFailAlikeAndLeaveThePortClosed) {
  for (const char* name : {"COM9", "\\\\.\\COM9", "COM42"}) {
    EXPECT_EQ(COM_ZOR4_OpenByName(1, name), -2) << name;
    EXPECT_EQ(COM_ZOR4_IO_State(1), 2) << name;
  }
  // Nothing was left open: closing finds no port.
  EXPECT_EQ(COM_ZOR4_Close(1), -3);
  EXPECT_EQ(COM_ZOR4_IO_State(1), 1);
}

}  // namespace
}  // namespace zor::test
