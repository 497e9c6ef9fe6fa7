// Making, cleaning and ending the connection of a slot, and the device's own buffer commands.
#include "COM-ZOR4.h"
#include "debug_file.h"
#include "framing.h"

namespace zor {
namespace {

bool CtsInactive(const ModemLines& lines) { return !lines.cts; }
bool Connected(const ModemLines& lines) { return lines.Connected(); }

const char* YesNo(bool line) { return line ? "Y" : "N"; }

int32_t NotConnected(uint16_t PortNumber, COMPort& port, const ModemLines& lines) {
  DebugLine(port, "PortNumber: %hu, COM_ZOR4_Open: Device not connected - DSR=%s, DCD=%s\n",
            PortNumber, YesNo(lines.dsr), YesNo(lines.dcd));
  return -100;
}

int32_t StatusUnreadable(uint16_t PortNumber, COMPort& port) {
  DebugLine(port, "PortNumber: %hu, COM_ZOR4_Open: Error reading the port status lines\n",
            PortNumber);
  return -6;
}

// The purge handshake: with RTS inactive the device pauses (CTS inactive), the queues are emptied,
// and with RTS active again the device resumes.
int32_t PurgeHandshake(uint16_t PortNumber) {
  COMPort& port = *FindSlot(PortNumber)->Port;
  if (!port.Control(true, false)) {
    DebugLine(port, "PortNumber: %hu, COM_ZOR4_Open: Error setting the port status lines\n",
              PortNumber);
    return -5;
  }
  ModemLines lines;
  switch (PollLines(port, lines, Connected, false)) {
    case PollResult::Done: break;
    case PollResult::StatusFailed: return StatusUnreadable(PortNumber, port);
    default: return NotConnected(PortNumber, port, lines);
  }
  switch (PollLines(port, lines, CtsInactive, true)) {
    case PollResult::Done: break;
    case PollResult::StatusFailed: return StatusUnreadable(PortNumber, port);
    case PollResult::Disconnected: return NotConnected(PortNumber, port, lines);
    case PollResult::TimedOut:
      (void)port.Control(true, true);
      DebugLine(port,
                "PortNumber: %hu, COM_ZOR4_Purge: Device state could not be set to not ready\n",
                PortNumber);
      return -102;
  }
  if (!port.Purge()) {
    (void)port.Control(true, true);
    DebugLine(port, "PortNumber: %hu, COM_ZOR4_Purge: Error purging the port\n", PortNumber);
    return -4;
  }
  if (!port.Control(true, true)) {
    DebugLine(port, "PortNumber: %hu, COM_ZOR4_Purge: Error setting the port control lines\n",
              PortNumber);
    return -5;
  }
  return CheckIfc(PortNumber);
}

// A one-letter command answered with "Y" or "N".
int32_t YesNoCommand(uint16_t PortNumber, char Command, int32_t* Answer, const char* function) {
  return DeviceCall(PortNumber, [&] {
    if (Answer == nullptr) return RefuseArgument(PortNumber, function, "null pointer");
    int32_t value = 0;
    if (const int32_t code = QueryBool(PortNumber, Command, value); code != 0) return code;
    *Answer = value;
    return 0;
  });
}

}  // namespace
}  // namespace zor

using zor::DebugLine;
using zor::DeviceCall;
using zor::FindSlot;

extern "C" {

int32_t COM_ZOR4_Open(uint16_t PortNumber, uint8_t COMNumber) {
  return DeviceCall(
      PortNumber,
      [&] {
        COMPort& port = *FindSlot(PortNumber)->Port;
        if (!port.Open(COMNumber)) {
          DebugLine(port, "PortNumber: %hu, COM_ZOR4_Open: Error opening the port as COM%d\n",
                    PortNumber, static_cast<int>(COMNumber));
          return -2;
        }
        return zor::PurgeHandshake(PortNumber);
      },
      false);
}

int32_t COM_ZOR4_OpenByName(uint16_t PortNumber, const char* PortName) {
  return DeviceCall(
      PortNumber,
      [&] {
        if (PortName == nullptr || *PortName == '\0') {
          return zor::RefuseArgument(PortNumber, "COM_ZOR4_OpenByName", "PortName empty");
        }
        COMPort& port = *FindSlot(PortNumber)->Port;
        if (!port.Open(PortName)) {
          DebugLine(port, "PortNumber: %hu, COM_ZOR4_Open: Error opening the port as %s\n",
                    PortNumber, PortName);
          return -2;
        }
        return zor::PurgeHandshake(PortNumber);
      },
      false);
}

int32_t COM_ZOR4_Close(uint16_t PortNumber) {
  return DeviceCall(PortNumber, [&] { return FindSlot(PortNumber)->Port->Close() ? 0 : -3; });
}

int32_t COM_ZOR4_Purge(uint16_t PortNumber) {
  return DeviceCall(PortNumber, [&] { return zor::PurgeHandshake(PortNumber); }, false);
}

int32_t COM_ZOR4_Device_Purge(uint16_t PortNumber, int32_t* Purged) {
  return zor::YesNoCommand(PortNumber, 'z', Purged, "COM_ZOR4_Device_Purge");
}

int32_t COM_ZOR4_Buffer_State(uint16_t PortNumber, int32_t* Empty) {
  return zor::YesNoCommand(PortNumber, 'Z', Empty, "COM_ZOR4_Buffer_State");
}

}  // extern "C"
