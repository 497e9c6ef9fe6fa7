// The monitoring readouts over the scripted device.
#include <gtest/gtest.h>

#include "COM-ZOR4.h"
#include "support/test_env.h"

namespace zor::test {
namespace {

using MonitoringTest = DeviceTest;
constexpr double kUntouched = -999.0;

TEST_F(MonitoringTest, HousekeepingFieldsConvertFromTheLastToTheFirst) {
  const struct {
    std::string reply;
    int32_t code;
    double supply, v5, v3, cpu;
  } cases[] = {
      {"H5DC0138809C48ABB\r", 0, 24.0, 5.0, 2.5, 82.0},
      {"H5dc0138809c48abb\r", 0, 24.0, 5.0, 2.5, 82.0},
      {"H5DC0138809C40000\r", 0, 24.0, 5.0, 2.5, -273.15},
      {"H5DC01388XXXX8ABB\r", -14, kUntouched, kUntouched, kUntouched, 82.0},
      {"HXXXX138809C48ABB\r", -14, kUntouched, 5.0, 2.5, 82.0},
      {"H5DC0138809C48AB\r", -11, kUntouched, kUntouched, kUntouched, kUntouched},
      {"V5DC0138809C48ABB\r", -13, kUntouched, kUntouched, kUntouched, kUntouched},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply);
    Answer({c.reply});
    double supply = kUntouched, v5 = kUntouched, v3 = kUntouched, cpu = kUntouched;
    EXPECT_EQ(COM_ZOR4_Get_HousekeepingData(kPort, &supply, &v5, &v3, &cpu), c.code);
    EXPECT_EQ(LastStatus(), c.code);
    EXPECT_EQ(device->written, "H\r");
    EXPECT_NEAR(supply, c.supply, 1e-9);
    EXPECT_NEAR(v5, c.v5, 1e-9);
    EXPECT_NEAR(v3, c.v3, 1e-9);
    EXPECT_NEAR(cpu, c.cpu, 1e-9);
  }
  EXPECT_EQ(DebugEntries().find("Wrong argument received"), std::string::npos);
}

TEST_F(MonitoringTest, HighVoltageSupply) {
  const struct {
    std::string reply;
    int32_t code;
    double positive, negative, heatsink;
  } cases[] = {
      {"S3A9803A98075B4\r", 0, 240.0, 240.0, 28.17},
      {"SFFFFFFFFFF0000\r", 0, 1048.575, 1048.575, -273.15},
      {"S3A98XXXXX075B4\r", -14, kUntouched, kUntouched, 28.17},
      {"S3A9803A98075B\r", -11, kUntouched, kUntouched, kUntouched},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply);
    Answer({c.reply});
    double positive = kUntouched, negative = kUntouched, heatsink = kUntouched;
    EXPECT_EQ(COM_ZOR4_Get_HVSupplyData(kPort, &positive, &negative, &heatsink), c.code);
    EXPECT_EQ(device->written, "S\r");
    EXPECT_NEAR(positive, c.positive, 1e-9);
    EXPECT_NEAR(negative, c.negative, 1e-9);
    EXPECT_NEAR(heatsink, c.heatsink, 1e-9);
  }
}

TEST_F(MonitoringTest, Interlock) {
  int32_t interlock = 5;
  Answer({"IY\r", "IN\r", "Iy\r"});
  EXPECT_EQ(COM_ZOR4_Get_InterlockState(kPort, &interlock), 0);
  EXPECT_EQ(interlock, 1);
  EXPECT_EQ(COM_ZOR4_Get_InterlockState(kPort, &interlock), 0);
  EXPECT_EQ(interlock, 0);
  interlock = 5;
  EXPECT_EQ(COM_ZOR4_Get_InterlockState(kPort, &interlock), -14);
  EXPECT_EQ(interlock, 5);
  EXPECT_EQ(device->written, "I\rI\rI\r");
  EXPECT_EQ(LastEntry(), "PortNumber: 7, ReadCommand-bool: Wrong argument received: command='I', "
                         "Data read: 'y\\x00'\n");
}

TEST_F(MonitoringTest, CurrentMonitor) {
  const struct {
    std::string reply;
    int32_t code;
    double current;
  } cases[] = {
      {"CFFFFFFFF\r", 0, -1e-13},
      {"C00000001\r", 0, 1e-13},
      {"C7FFFFFFF\r", 0, 2.147483647e-4},
      {"C80000000\r", 0, -2.147483648e-4},
      {"C\r", -51, kUntouched},
      {"CXXXXXXXX\r", -14, kUntouched},
      {"C0000\r", -11, kUntouched},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply);
    Answer({c.reply});
    double current = kUntouched;
    EXPECT_EQ(COM_ZOR4_Get_CurrentMonitor(kPort, &current), c.code);
    EXPECT_EQ(LastStatus(), c.code);
    EXPECT_EQ(device->written, "C\r");
    EXPECT_NEAR(current, c.current, 1e-22);
  }
}

TEST_F(MonitoringTest, MissingSensorLeavesOnlyTheByteCountLines) {
  Answer({"C\r"});
  double current = 0;
  EXPECT_EQ(COM_ZOR4_Get_CurrentMonitor(kPort, &current), -51);
  EXPECT_EQ(DebugEntries(),
            "\n<time>\nPortNumber: 7, ReadCommand: Error receiving data: '9' byte(s) expected, '1' "
            "byte(s) read\nData read: '\\x0D'\n");
}

}  // namespace
}  // namespace zor::test
