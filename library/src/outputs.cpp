// The output channels: on/off state, set voltage and measured voltage of each channel.
#include <cmath>
#include <cstdio>

#include "COM-ZOR4.h"
#include "conversions.h"
#include "debug_file.h"
#include "framing.h"

namespace zor {
namespace {

constexpr uint16_t kChannels = 5;

int32_t CheckChannel(uint16_t PortNumber, const char* function, uint16_t Channel) {
  if (Channel < kChannels) return 0;
  return RefuseArgument(PortNumber, function, "Channel=%hu out of range", Channel);
}

// The exchange of a channel command. A device without the channel answers with the channel digit
// alone (-50); otherwise the value follows the digit at ReplyBuffer + 1.
int32_t ChannelExchange(uint16_t PortNumber, const char* function, uint16_t Channel, char letter,
                        const char* data, int32_t length) {
  if (const int32_t code = CheckChannel(PortNumber, function, Channel)) return code;
  const int32_t sent = data != nullptr ? WriteCommand(PortNumber, letter, data)
                                       : WriteCommandLong(PortNumber, letter, Channel, 1);
  if (sent != 0) return sent;
  const int32_t read = ReadCommand(PortNumber, letter, length);
  // Only a digit followed by the terminator is the missing-channel answer; any other short reply
  // keeps its -11.
  const bool digit_alone = read == -11 && ReplyLength == 2 && ReplyBuffer[1] == kTerminator;
  if (read != 0 && !digit_alone) return read;
  uint8_t digit = 0;
  if (!ConvertHexDigit(ReplyBuffer[0], digit)) {
    char label[128], detail[48];
    std::snprintf(label, sizeof label, "%s: Wrong argument received:", function);
    std::snprintf(detail, sizeof detail, "Cannot convert character '%c'\n", ReplyBuffer[0]);
    return ReportWrongArgument(PortNumber, label, detail);
  }
  if (digit != Channel) {
    DebugLine(*FindSlot(PortNumber)->Port,
              "PortNumber: %hu, %s: Wrong argument received: Channel=%02hXh expected, %02hXh "
              "read\n",
              PortNumber, function, Channel, static_cast<unsigned short>(digit));
    return -14;
  }
  if (digit_alone) return -50;
  return 0;
}

// The state character behind the channel digit.
int32_t DecodeState(uint16_t PortNumber, const char* function, int32_t* State) {
  if (TakeFlag(ReplyBuffer[1], State)) return 0;
  char label[128], detail[64];
  std::snprintf(label, sizeof label, "%s: Wrong argument received:", function);
  std::snprintf(detail, sizeof detail, "Boolean character expected, '%c' received\n", ReplyBuffer[1]);
  return ReportWrongArgument(PortNumber, label, detail);
}

int32_t DecodeSetVoltage(double* Voltage) {
  uint32_t raw = 0;
  if (!ScanHex(ReplyBuffer + 1, raw)) return -14;
  *Voltage = Signed16(raw) * 0.1;
  return 0;
}

}  // namespace
}  // namespace zor

using namespace zor;

extern "C" {

int32_t COM_ZOR4_Get_OutputState(uint16_t PortNumber, uint16_t Channel, int32_t* State) {
  static constexpr const char* kName = "COM_ZOR4_Get_OutputState";
  return DeviceCall(PortNumber, [&] {
    if (State == nullptr) return RefuseArgument(PortNumber, kName, "State=NULL");
    if (const int32_t code = ChannelExchange(PortNumber, kName, Channel, 'B', nullptr, 2)) return code;
    return DecodeState(PortNumber, kName, State);
  });
}

int32_t COM_ZOR4_Set_OutputState(uint16_t PortNumber, uint16_t Channel, int32_t* State) {
  static constexpr const char* kName = "COM_ZOR4_Set_OutputState";
  return DeviceCall(PortNumber, [&] {
    if (State == nullptr) return RefuseArgument(PortNumber, kName, "State=NULL");
    std::snprintf(CommandBuffer, kCommandBufferSize, "%d%c", Channel, *State != 0 ? 'Y' : 'N');
    if (const int32_t code = ChannelExchange(PortNumber, kName, Channel, 'B', CommandBuffer, 2)) {
      return code;
    }
    return DecodeState(PortNumber, kName, State);
  });
}

int32_t COM_ZOR4_Get_OutputVoltage(uint16_t PortNumber, uint16_t Channel, double* Voltage) {
  static constexpr const char* kName = "COM_ZOR4_Get_OutputVoltage";
  return DeviceCall(PortNumber, [&] {
    if (Voltage == nullptr) return RefuseArgument(PortNumber, kName, "Voltage=NULL");
    if (const int32_t code = ChannelExchange(PortNumber, kName, Channel, 'o', nullptr, 5)) return code;
    return DecodeSetVoltage(Voltage);
  });
}

int32_t COM_ZOR4_Set_OutputVoltage(uint16_t PortNumber, uint16_t Channel, double* Voltage) {
  static constexpr const char* kName = "COM_ZOR4_Set_OutputVoltage";
  return DeviceCall(PortNumber, [&] {
    if (Voltage == nullptr) return RefuseArgument(PortNumber, kName, "Voltage=NULL");
    if (const int32_t code = CheckChannel(PortNumber, kName, Channel)) return code;
    // Rounded to the 0.1 V grid, halves away from zero. A count beyond 16 bits would reach the
    // device as its low bits, commanding another voltage, even of the other polarity.
    const double count = std::trunc(*Voltage >= 0 ? *Voltage * 10 + 0.5 : *Voltage * 10 - 0.5);
    if (!(count >= -32768.0 && count <= 32767.0)) {
      return RefuseArgument(PortNumber, kName, "Voltage=%.1lf out of range", *Voltage);
    }
    std::snprintf(CommandBuffer, kCommandBufferSize, "%d%04hX", Channel,
                  static_cast<unsigned short>(static_cast<int16_t>(count)));
    if (const int32_t code = ChannelExchange(PortNumber, kName, Channel, 'o', CommandBuffer, 5)) {
      return code;
    }
    return DecodeSetVoltage(Voltage);
  });
}

int32_t COM_ZOR4_Get_OutputMonitor(uint16_t PortNumber, uint16_t Channel, double* Voltage) {
  static constexpr const char* kName = "COM_ZOR4_Get_OutputMonitor";
  return DeviceCall(PortNumber, [&] {
    if (Voltage == nullptr) return RefuseArgument(PortNumber, kName, "Voltage=NULL");
    if (const int32_t code = ChannelExchange(PortNumber, kName, Channel, 'O', nullptr, 7)) return code;
    uint32_t raw = 0;
    if (!ScanHex(ReplyBuffer + 1, raw)) return -14;
    *Voltage = Signed24(raw) * 0.001;
    return 0;
  });
}

}  // extern "C"
