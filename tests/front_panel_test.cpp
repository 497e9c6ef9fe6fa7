// Keypad, encoder and display functions over the scripted device.
#include <gtest/gtest.h>

#include <array>

#include "COM-ZOR4.h"
#include "slots.h"
#include "support/test_env.h"

namespace zor::test {
namespace {

using FrontPanelTest = DeviceTest;

TEST_F(FrontPanelTest, KeypadAndEncoderEchoTheirCodes) {
  const struct {
    char kind;  // K keypad, E encoder, B button
    unsigned code;
    std::string reply;
    std::string sent;
    int32_t code_out;
    std::string last_entry;
  } cases[] = {
      {'K', 0x104, "K04\r", "K04\r", 0, ""},
      {'K', 0x10, "K10\r", "K10\r", 0, ""},
      {'K', 0x04, "K4\r", "K04\r", -11, ""},
      {'K', 0x04, "K05\r", "K04\r", -14,
       "PortNumber: 7, COM_ZOR4_SimulateKeypad: Wrong argument received: KeyCode=04h expected, "
       "05h read\n"},
      {'K', 0x04, "KXY\r", "K04\r", -14,
       "PortNumber: 7, ReadCommand-int: Wrong argument received: command='K', Data read: "
       "'XY\\x00'\n"},
      {'E', 0x0A, "EA\r", "EA\r", 0, ""},
      {'E', 0x0A, "Ea\r", "EA\r", 0, ""},
      {'E', 0x09, "E8\r", "E9\r", -14,
       "PortNumber: 7, COM_ZOR4_SimulateEncoder: Wrong argument received: EncCode=09h expected, "
       "08h read\n"},
      {'E', 0x10, "E0\r", "", -15,
       "PortNumber: 7, WriteCommand-long: Wrong argument passed to the function: long=16, "
       "digits=1 => '10'\n"},
      {'B', 0, "E\r", "E\r", 0, ""},
      {'B', 0, "Eanything at all\r", "E\r", 0, ""},
      {'B', 0, "K\r", "E\r", -13, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sent + " -> " + c.reply);
    OpenDebug(kPort);
    Answer({c.reply});
    FindSlot(kPort)->LastStatus = -7;
    int32_t code = 0;
    switch (c.kind) {
      case 'K': code = COM_ZOR4_SimulateKeypad(kPort, static_cast<uint8_t>(c.code)); break;
      case 'E': code = COM_ZOR4_SimulateEncoder(kPort, static_cast<uint8_t>(c.code)); break;
      default: code = COM_ZOR4_SimulateEncoderButton(kPort); break;
    }
    EXPECT_EQ(code, c.code_out);
    // The button's success leaves the last status alone.
    EXPECT_EQ(LastStatus(), c.kind == 'B' && code == 0 ? -7 : c.code_out);
    EXPECT_EQ(device->written, c.sent);
    if (!c.last_entry.empty()) {
      EXPECT_EQ(LastEntry(), c.last_entry);
    }
  }
}

std::string HexOf(const std::vector<uint8_t>& bytes) {
  std::string hex;
  char two[3];
  for (uint8_t b : bytes) {
    std::snprintf(two, sizeof two, "%02X", b);
    hex += two;
  }
  return hex;
}

std::vector<uint8_t> Pattern(size_t n) {
  std::vector<uint8_t> bytes(n);
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(i * 37 + 11);
  return bytes;
}

TEST_F(FrontPanelTest, WholeDisplayIsDecodedByteForByte) {
  const auto bytes = Pattern(1024);
  Answer({"L" + HexOf(bytes) + "\r"});
  std::array<uint8_t, 1024> display{};
  ASSERT_EQ(COM_ZOR4_ReadDisplay(kPort, display.data()), 0);
  EXPECT_EQ(std::vector<uint8_t>(display.begin(), display.end()), bytes);
  EXPECT_EQ(device->written, "L\r");
}

TEST_F(FrontPanelTest, BadDisplayDigitKeepsWhatWasDecodedBeforeIt) {
  std::string hex = HexOf(Pattern(1024));
  hex[2 * 10 + 1] = 'x';  // low digit of byte 10
  hex[2 * 11] = 'a';
  Answer({"L" + hex + "\r"});
  std::array<uint8_t, 1024> display;
  display.fill(0xEE);
  EXPECT_EQ(COM_ZOR4_ReadDisplay(kPort, display.data()), -14);
  const auto bytes = Pattern(1024);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(display[i], bytes[i]) << i;
  EXPECT_EQ(display[10], bytes[10] & 0xF0);
  EXPECT_EQ(display[11], 0xEE);
  const std::string entry = LastEntry();
  EXPECT_EQ(entry.rfind("PortNumber: 7, COM_ZOR4_ReadDisplay: Wrong argument received: Data read: '", 0), 0u);
  EXPECT_TRUE(entry.ends_with("\\x00'\nCannot convert character 'x'\n")) << entry;
}

TEST_F(FrontPanelTest, DisplayRow) {
  const auto bytes = Pattern(128);
  Answer({"l2" + HexOf(bytes) + "\r"});
  std::array<uint8_t, 128> row{};
  ASSERT_EQ(COM_ZOR4_ReadDisplayRow(kPort, 2, row.data()), 0);
  EXPECT_EQ(std::vector<uint8_t>(row.begin(), row.end()), bytes);
  EXPECT_EQ(device->written, "l2\r");

  row.fill(0xEE);
  Answer({"l3" + HexOf(bytes) + "\r"});
  EXPECT_EQ(COM_ZOR4_ReadDisplayRow(kPort, 2, row.data()), -14);
  EXPECT_EQ(row[0], 0xEE);
  EXPECT_EQ(LastEntry(), "PortNumber: 7, COM_ZOR4_ReadDisplayRow: Wrong argument received: Row=02h "
                         "expected, 03h read\n");

  OpenDebug(kPort);
  std::string hex = HexOf(bytes);
  hex[0] = 'f';
  Answer({"l2" + hex + "\r"});
  EXPECT_EQ(COM_ZOR4_ReadDisplayRow(kPort, 2, row.data()), -14);
  const std::string entry = LastEntry();
  EXPECT_EQ(entry.rfind("PortNumber: 7, COM_ZOR4_ReadDisplayRow: Wrong argument received:Data read: '2", 0), 0u);
  EXPECT_TRUE(entry.ends_with("\\x00'\nCannot convert character 'f'\n")) << entry;

  OpenDebug(kPort);
  Answer({});
  EXPECT_EQ(COM_ZOR4_ReadDisplayRow(kPort, 8, row.data()), -15);
  EXPECT_EQ(device->written, "");
  EXPECT_EQ(LastEntry(), "PortNumber: 7, COM_ZOR4_ReadDisplayRow: Wrong argument passed to the "
                         "function: Row=8 out of range\n");
}

}  // namespace
}  // namespace zor::test
