// The front panel from the PC: keypad keys, the encoder and its button, the display memory.
#include <cstdio>

#include "COM-ZOR4.h"
#include "debug_file.h"
#include "framing.h"

namespace zor {
namespace {

constexpr uint32_t kDisplayBytes = 1024;
constexpr uint32_t kRowBytes = 128;
constexpr uint16_t kRows = 8;

int32_t CannotConvert(uint16_t PortNumber, const char* label, char c) {
  char detail[48];
  std::snprintf(detail, sizeof detail, "Cannot convert character '%c'\n", c);
  return ReportWrongArgument(PortNumber, label, detail);
}

// Sends a code and expects it echoed as a hex number.
int32_t EchoedCode(uint16_t PortNumber, const char* function, const char* what, char letter,
                   uint8_t code, int digits) {
  if (const int32_t sent = WriteCommandLong(PortNumber, letter, code, digits)) return sent;
  uint32_t echoed = 0;
  if (const int32_t read = ReadCommandInt(PortNumber, letter, digits, echoed)) return read;
  if (echoed == code) return 0;
  DebugLine(*FindSlot(PortNumber)->Port,
            "PortNumber: %hu, %s: Wrong argument received: %s=%02hXh expected, %02hXh read\n",
            PortNumber, function, what, static_cast<unsigned short>(code),
            static_cast<unsigned short>(echoed));
  return -14;
}

// Two upper-case hex digits a byte, high nibble first; the bytes before a bad digit stay decoded.
int32_t DecodeBytes(uint16_t PortNumber, const char* label, const char* hex, uint8_t* out,
                    uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t high = 0, low = 0;
    if (!ConvertHexDigit(hex[2 * i], high)) return CannotConvert(PortNumber, label, hex[2 * i]);
    out[i] = static_cast<uint8_t>(high << 4);
    if (!ConvertHexDigit(hex[2 * i + 1], low)) return CannotConvert(PortNumber, label, hex[2 * i + 1]);
    out[i] = static_cast<uint8_t>(out[i] | low);
  }
  return 0;
}

}  // namespace
}  // namespace zor

using namespace zor;

extern "C" {

int32_t COM_ZOR4_SimulateKeypad(uint16_t PortNumber, uint8_t KeyCode) {
  return DeviceCall(PortNumber, [&] {
    return EchoedCode(PortNumber, "COM_ZOR4_SimulateKeypad", "KeyCode", 'K', KeyCode, 2);
  });
}

int32_t COM_ZOR4_SimulateEncoderButton(uint16_t PortNumber) {
  return DeviceCall(PortNumber, [&] { return Exchange(PortNumber, 'E', nullptr, 0); }, false);
}

int32_t COM_ZOR4_SimulateEncoder(uint16_t PortNumber, uint8_t EncCode) {
  return DeviceCall(PortNumber, [&] {
    return EchoedCode(PortNumber, "COM_ZOR4_SimulateEncoder", "EncCode", 'E', EncCode, 1);
  });
}

int32_t COM_ZOR4_ReadDisplay(uint16_t PortNumber, uint8_t* Display) {
  return DeviceCall(PortNumber, [&] {
    if (Display == nullptr) return RefuseArgument(PortNumber, "COM_ZOR4_ReadDisplay", "Display=NULL");
    if (const int32_t code = Exchange(PortNumber, 'L', nullptr, 2 * kDisplayBytes)) return code;
    const char* label = "COM_ZOR4_ReadDisplay: Wrong argument received: ";
    if (const int32_t code = DecodeBytes(PortNumber, label, ReplyBuffer, Display, kDisplayBytes)) {
      return code;
    }
    return ReplyBuffer[2 * kDisplayBytes] == '\0' ? 0 : -14;
  });
}

int32_t COM_ZOR4_ReadDisplayRow(uint16_t PortNumber, uint16_t Row, uint8_t* Display) {
  static constexpr const char* kName = "COM_ZOR4_ReadDisplayRow";
  return DeviceCall(PortNumber, [&] {
    if (Display == nullptr) return RefuseArgument(PortNumber, kName, "Display=NULL");
    if (Row >= kRows) return RefuseArgument(PortNumber, kName, "Row=%hu out of range", Row);
    if (const int32_t code = WriteCommandLong(PortNumber, 'l', Row, 1)) return code;
    if (const int32_t code = ReadCommand(PortNumber, 'l', 1 + 2 * kRowBytes)) return code;
    const char* label = "COM_ZOR4_ReadDisplayRow: Wrong argument received:";
    uint8_t digit = 0;
    if (!ConvertHexDigit(ReplyBuffer[0], digit)) return CannotConvert(PortNumber, label, ReplyBuffer[0]);
    if (digit != Row) {
      DebugLine(*FindSlot(PortNumber)->Port,
                "PortNumber: %hu, %s: Wrong argument received: Row=%02hXh expected, %02hXh read\n",
                PortNumber, kName, Row, static_cast<unsigned short>(digit));
      return -14;
    }
    if (const int32_t code = DecodeBytes(PortNumber, label, ReplyBuffer + 1, Display, kRowBytes)) {
      return code;
    }
    const char end = ReplyBuffer[1 + 2 * kRowBytes];
    if (end == '\0') return 0;
    char detail[40];
    std::snprintf(detail, sizeof detail, "Terminator missing: '%c'\n", end);
    return ReportWrongArgument(PortNumber, label, detail);
  });
}

}  // extern "C"
