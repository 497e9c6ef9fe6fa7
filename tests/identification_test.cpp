// Capabilities, uptime and identification over the scripted device.
#include <gtest/gtest.h>

#include <cstring>

#include "COM-ZOR4.h"
#include "support/test_env.h"

namespace zor::test {
namespace {

using IdentificationTest = DeviceTest;
constexpr double kUntouched = -999.0;

struct Capability {
  uint8_t channels = 99;
  double min = kUntouched, max = kUntouched, precision = kUntouched, shutdown = kUntouched;
  int32_t sensor = 99;
  int32_t Read(uint16_t port) {
    return COM_ZOR4_GetHardwareCapability(port, &channels, &min, &max, &precision, &sensor,
                                          &shutdown);
  }
};

TEST_F(IdentificationTest, HardwareCapabilityFromTheLastFieldToTheFirst) {
  const struct {
    std::string reply;
    int32_t code;
    unsigned channels;
    double shutdown, min, max, precision;
    int32_t sensor;
  } cases[] = {
      {"W58BE7FFD23940002DC6C00064Y\r", 0, 5, 85.0, -3000.0, 3000.0, 0.1, 1},
      {"W" "0" "FFFF" "00000000" "00000000" "0000" "N\r", 0, 0, 382.20, 0, 0, 0, 0},
      {"W" "4" "0000" "FFFFFFFF" "00000001" "FFFF" "N\r", 0, 4, -273.15, -0.001, 0.001, -0.001, 0},
      {"W68BE7FFD23940002DC6C00064Y\r", -14, 99, 85.0, -3000.0, 3000.0, 0.1, 1},
      {"WF8BE7FFD23940002DC6C00064Y\r", -14, 99, 85.0, -3000.0, 3000.0, 0.1, 1},
      {"W58BE7FFD23940002DC6C00064y\r", -14, 99, kUntouched, kUntouched, kUntouched, kUntouched, 99},
      {"W58BE7FFD23940XX2DC6C00064N\r", -14, 99, kUntouched, kUntouched, kUntouched, 0.1, 0},
      {"W58BE7FFD23940002DC6C00064\r", -11, 99, kUntouched, kUntouched, kUntouched, kUntouched, 99},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply);
    Answer({c.reply});
    Capability cap;
    EXPECT_EQ(cap.Read(kPort), c.code);
    EXPECT_EQ(LastStatus(), c.code);
    EXPECT_EQ(device->written, "W\r");
    EXPECT_EQ(cap.channels, c.channels);
    EXPECT_NEAR(cap.shutdown, c.shutdown, 1e-9);
    EXPECT_NEAR(cap.min, c.min, 1e-9);
    EXPECT_NEAR(cap.max, c.max, 1e-9);
    EXPECT_NEAR(cap.precision, c.precision, 1e-9);
    EXPECT_EQ(cap.sensor, c.sensor);
  }
  EXPECT_EQ(DebugEntries().find("Wrong argument received"), std::string::npos);
}

TEST_F(IdentificationTest, Uptime) {
  const struct {
    std::string reply;
    int32_t code;
    uint32_t seconds;
    uint16_t ms;
  } cases[] = {
      {"U0001E24080\r", 0, 123456, 500},
      {"U00000000FF\r", 0, 0, 996},
      {"UFFFFFFFF01\r", 0, 0xFFFFFFFF, 3},
      {"U0001E240XX\r", -14, 77, 77},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply);
    OpenDebug(kPort);
    Answer({c.reply});
    uint32_t seconds = 77;
    uint16_t ms = 77;
    EXPECT_EQ(COM_ZOR4_GetUptime(kPort, &seconds, &ms), c.code);
    EXPECT_EQ(device->written, "U\r");
    EXPECT_EQ(seconds, c.seconds);
    EXPECT_EQ(ms, c.ms);
    if (c.code != 0) {
      EXPECT_EQ(LastEntry(), "PortNumber: 7, COM_ZOR4_GetUptime: Wrong argument received:Data "
                             "read: '0001E240XX\\x00'\nCannot obtain parameters\n");
    }
  }
}

TEST_F(IdentificationTest, FirmwareVersionAndProductNumber) {
  Answer({"V0102\r", "N0012D687\r", "NFFFFFFFE\r", "VXYZ1\r"});
  uint16_t version = 0;
  int32_t number = 0;
  EXPECT_EQ(COM_ZOR4_FW_Ver(kPort, &version), 0);
  EXPECT_EQ(version, 0x0102);
  EXPECT_EQ(COM_ZOR4_Prod_No(kPort, &number), 0);
  EXPECT_EQ(number, 1234567);
  EXPECT_EQ(COM_ZOR4_Prod_No(kPort, &number), 0);
  EXPECT_EQ(number, -2);
  EXPECT_EQ(COM_ZOR4_FW_Ver(kPort, &version), -14);
  EXPECT_EQ(version, 0x0102);
  EXPECT_EQ(device->written, "V\rN\rN\rV\r");
  EXPECT_EQ(LastEntry(), "PortNumber: 7, ReadCommand-int: Wrong argument received: command='V', "
                         "Data read: 'XYZ1\\x00'\n");
}

TEST_F(IdentificationTest, FirmwareDateIsExactlyElevenCharacters) {
  char date[12] = "untouched!";
  Answer({"DDec 11 2026\r", "DDec 1 2026\r"});
  EXPECT_EQ(COM_ZOR4_FW_Date(kPort, date), 0);
  EXPECT_STREQ(date, "Dec 11 2026");
  std::strcpy(date, "untouched!");
  EXPECT_EQ(COM_ZOR4_FW_Date(kPort, date), -11);
  EXPECT_STREQ(date, "untouched!");
  Answer({"DDec 11 20266\r"});
  EXPECT_EQ(COM_ZOR4_FW_Date(kPort, date), -12);
  EXPECT_STREQ(date, "untouched!");
}

TEST_F(IdentificationTest, ProductIdentificationOfAnyLength) {
  std::vector<char> id(8192, 'x');
  Answer({"PZORLINE HV-4 sim\r", "P\r"});
  EXPECT_EQ(COM_ZOR4_Prod_ID(kPort, id.data()), 0);
  EXPECT_STREQ(id.data(), "ZORLINE HV-4 sim");
  EXPECT_EQ(COM_ZOR4_Prod_ID(kPort, id.data()), 0);
  EXPECT_STREQ(id.data(), "");
  const std::string longest(8191, 'Q');
  Answer({"P" + longest + "\r"});
  EXPECT_EQ(COM_ZOR4_Prod_ID(kPort, id.data()), 0);
  EXPECT_EQ(std::string(id.data()), longest);
}

TEST_F(IdentificationTest, SizedProductIdentificationRefusesATextThatDoesNotFit) {
  char id[8];
  std::memset(id, 'x', sizeof id);
  Answer({"P1234567\r", "P12345678\r"});
  EXPECT_EQ(COM_ZOR4_Prod_ID_Sized(kPort, id, sizeof id), 0);
  EXPECT_STREQ(id, "1234567");
  std::memset(id, 'x', sizeof id);
  EXPECT_EQ(COM_ZOR4_Prod_ID_Sized(kPort, id, sizeof id), -15);
  EXPECT_EQ(LastStatus(), -15);
  EXPECT_EQ(std::string(id, sizeof id), "xxxxxxxx");
  EXPECT_EQ(LastEntry(), "PortNumber: 7, COM_ZOR4_Prod_ID_Sized: Wrong argument passed to the "
                         "function: Size=8, 9 bytes needed\n");
  Answer({});
  EXPECT_EQ(COM_ZOR4_Prod_ID_Sized(kPort, id, 0), -15);
  EXPECT_EQ(device->written, "");
}

}  // namespace
}  // namespace zor::test
