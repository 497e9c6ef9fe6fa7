// The output-channel functions over the scripted device.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "COM-ZOR4.h"
#include "support/test_env.h"

namespace zor::test {
namespace {

using OutputsTest = DeviceTest;

struct StateCase {
  bool set;              // Set_OutputState with `in`, else Get_OutputState
  uint16_t channel;
  int32_t in;
  std::string reply;
  std::string sent;
  int32_t code;
  int32_t out;           // the State afterwards
  std::string last_entry;  // "" when no debug line is expected
};

TEST_F(OutputsTest, OutputStateCommands) {
  const std::string kNoLine;
  const StateCase cases[] = {
      {false, 2, 9, "B2Y\r", "B2\r", 0, 1, kNoLine},
      {false, 4, 9, "B4N\r", "B4\r", 0, 0, kNoLine},
      {true, 2, 7, "B2Y\r", "B2Y\r", 0, 1, kNoLine},
      {true, 2, 1, "B2N\r", "B2Y\r", 0, 0, kNoLine},  // the device may refuse
      {true, 0, 0, "B0N\r", "B0N\r", 0, 0, kNoLine},
      {false, 2, 9, "B2y\r", "B2\r", -14, 9,
       "PortNumber: 7, COM_ZOR4_Get_OutputState: Wrong argument received:Data read: '2y\\x00'\n"
       "Boolean character expected, 'y' received\n"},
      {true, 1, 1, "B1?\r", "B1Y\r", -14, 1,
       "PortNumber: 7, COM_ZOR4_Set_OutputState: Wrong argument received:Data read: '1?\\x00'\n"
       "Boolean character expected, '?' received\n"},
      {false, 3, 9, "B4Y\r", "B3\r", -14, 9,
       "PortNumber: 7, COM_ZOR4_Get_OutputState: Wrong argument received: Channel=03h expected, "
       "04h read\n"},
      {false, 0, 9, "BaY\r", "B0\r", -14, 9,
       "PortNumber: 7, COM_ZOR4_Get_OutputState: Wrong argument received:Data read: 'aY\\x00'\n"
       "Cannot convert character 'a'\n"},
      {false, 3, 9, "B3\r", "B3\r", -50, 9,
       "PortNumber: 7, ReadCommand: Error receiving data: '3' byte(s) expected, '2' byte(s) "
       "read\nData read: '3\\x0D'\n"},
      {true, 3, 1, "B3\r", "B3Y\r", -50, 1,
       "PortNumber: 7, ReadCommand: Error receiving data: '3' byte(s) expected, '2' byte(s) "
       "read\nData read: '3\\x0D'\n"},
      {false, 5, 9, "B5Y\r", "", -15, 9,
       "PortNumber: 7, COM_ZOR4_Get_OutputState: Wrong argument passed to the function: "
       "Channel=5 out of range\n"},
      {true, 65535, 1, "", "", -15, 1,
       "PortNumber: 7, COM_ZOR4_Set_OutputState: Wrong argument passed to the function: "
       "Channel=65535 out of range\n"},
  };
  for (const StateCase& c : cases) {
    SCOPED_TRACE(c.reply + " / " + c.sent);
    OpenDebug(kPort);
    Answer({c.reply});
    int32_t state = c.in;
    const int32_t code = c.set ? COM_ZOR4_Set_OutputState(kPort, c.channel, &state)
                               : COM_ZOR4_Get_OutputState(kPort, c.channel, &state);
    EXPECT_EQ(code, c.code);
    EXPECT_EQ(LastStatus(), c.code);
    EXPECT_EQ(state, c.out);
    EXPECT_EQ(device->written, c.sent);
    EXPECT_EQ(c.last_entry.empty() ? DebugEntries() : LastEntry(), c.last_entry);
  }
}

struct VoltageCase {
  enum Kind { GetSet, Set, Monitor } kind;
  uint16_t channel;
  double in;
  std::string reply;
  std::string sent;
  int32_t code;
  double out;
};

TEST_F(OutputsTest, VoltageCommands) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const VoltageCase cases[] = {
      {VoltageCase::GetSet, 3, 1.5, "o3FF9C\r", "o3\r", 0, -10.0},
      {VoltageCase::GetSet, 3, 1.5, "o3ff9c\r", "o3\r", 0, -10.0},  // value digits of either case
      {VoltageCase::GetSet, 0, 1.5, "o07FFF\r", "o0\r", 0, 3276.7},
      {VoltageCase::GetSet, 0, 1.5, "o08000\r", "o0\r", 0, -3276.8},
      {VoltageCase::GetSet, 3, 1.5, "o3\r", "o3\r", -50, 1.5},
      {VoltageCase::GetSet, 3, 1.5, "o3XY12\r", "o3\r", -14, 1.5},
      {VoltageCase::GetSet, 3, 1.5, "oA0000\r", "o3\r", -14, 1.5},
      {VoltageCase::GetSet, 3, 1.5, "o3FF\r", "o3\r", -11, 1.5},
      {VoltageCase::Set, 2, 1000.0, "o22710\r", "o22710\r", 0, 1000.0},
      {VoltageCase::Set, 0, -1.25, "o0FFF3\r", "o0FFF3\r", 0, -1.3},
      {VoltageCase::Set, 0, 0.04, "o00000\r", "o00000\r", 0, 0.0},
      {VoltageCase::Set, 0, 0.05, "o00001\r", "o00001\r", 0, 0.1},
      {VoltageCase::Set, 1, 3276.7, "o17FFF\r", "o17FFF\r", 0, 3276.7},
      {VoltageCase::Set, 1, -3276.8, "o18000\r", "o18000\r", 0, -3276.8},
      {VoltageCase::Set, 1, 2000.0, "o11388\r", "o14E20\r", 0, 500.0},  // the value in force
      {VoltageCase::Set, 4, 10.0, "o4\r", "o40064\r", -50, 10.0},
      {VoltageCase::Set, 1, 4000.0, "", "", -15, 4000.0},
      {VoltageCase::Set, 1, 3276.75, "", "", -15, 3276.75},
      {VoltageCase::Set, 1, -3276.85, "", "", -15, -3276.85},
      {VoltageCase::Set, 5, 1.0, "", "", -15, 1.0},
      {VoltageCase::Monitor, 1, 9.0, "O1FFFC18\r", "O1\r", 0, -1.0},
      {VoltageCase::Monitor, 1, 9.0, "O1800000\r", "O1\r", 0, -8388.608},
      {VoltageCase::Monitor, 1, 9.0, "O17FFFFF\r", "O1\r", 0, 8388.607},
      {VoltageCase::Monitor, 2, 9.0, "O2\r", "O2\r", -50, 9.0},
      {VoltageCase::Monitor, 2, 9.0, "O1000000\r", "O2\r", -14, 9.0},
  };
  for (const VoltageCase& c : cases) {
    SCOPED_TRACE(c.sent + " -> " + c.reply + " in " + std::to_string(c.in));
    Answer({c.reply});
    double value = c.in;
    int32_t code = 0;
    switch (c.kind) {
      case VoltageCase::GetSet: code = COM_ZOR4_Get_OutputVoltage(kPort, c.channel, &value); break;
      case VoltageCase::Set: code = COM_ZOR4_Set_OutputVoltage(kPort, c.channel, &value); break;
      case VoltageCase::Monitor: code = COM_ZOR4_Get_OutputMonitor(kPort, c.channel, &value); break;
    }
    EXPECT_EQ(code, c.code);
    EXPECT_EQ(LastStatus(), c.code);
    EXPECT_NEAR(value, c.out, 1e-9);
    EXPECT_EQ(device->written, c.sent);
  }
  double value = nan;
  EXPECT_EQ(COM_ZOR4_Set_OutputVoltage(kPort, 0, &value), -15);
  EXPECT_TRUE(std::isnan(value));
}

TEST_F(OutputsTest, RefusedVoltageSaysWhy) {
  double value = 4000.0;
  EXPECT_EQ(COM_ZOR4_Set_OutputVoltage(kPort, 1, &value), -15);
  EXPECT_EQ(LastEntry(),
            "PortNumber: 7, COM_ZOR4_Set_OutputVoltage: Wrong argument passed to the function: "
            "Voltage=4000.0 out of range\n");
}

TEST_F(OutputsTest, ChannelDigitWithoutTerminatorIsNoMissingChannel) {
  // Two bytes that end early are a broken reply, not the missing-channel answer.
  Answer({"B2Y"});
  int32_t state = 9;
  EXPECT_EQ(COM_ZOR4_Get_OutputState(kPort, 2, &state), -11);
  EXPECT_EQ(state, 9);
}

TEST_F(OutputsTest, FailuresOfTheExchangeArePassedOn) {
  int32_t state = 9;
  device->modem_fn = [](FakeDevice&) { return MS_CTS_ON; };
  EXPECT_EQ(COM_ZOR4_Get_OutputState(kPort, 1, &state), -100);
  FollowRts(*device);
  device->fail_at[Op::Write] = device->calls[Op::Write] + 2;
  EXPECT_EQ(COM_ZOR4_Set_OutputState(kPort, 1, &state), -8);
  EXPECT_EQ(LastEntry(), "PortNumber: 7, WriteCommand: Error sending data 'B1Y'\n");
  EXPECT_EQ(COM_ZOR4_Get_OutputState(8, 1, &state), -200);
  EXPECT_EQ(COM_ZOR4_Get_OutputState(kPort, 1, nullptr), -15);
  EXPECT_EQ(state, 9);
}

}  // namespace
}  // namespace zor::test
