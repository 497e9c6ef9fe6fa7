// The framing every device command shares: the interface check on the modem lines, sending the
// command line, receiving the reply line, the typed reply readers and the reports of bad replies.
#pragma once

#include <cstdint>

#include "slots.h"

namespace zor {

inline constexpr uint32_t kCommandBufferSize = 512;
inline constexpr uint32_t kReplyBufferSize = 8192;
inline constexpr int32_t kMaxDataLength = 8191;  // data, terminator and NUL fit the reply buffer
inline constexpr char kTerminator = 0x0D;

// One of each for the whole library, shared by every slot: calls must never overlap.
extern char CommandBuffer[kCommandBufferSize];
extern char ReplyBuffer[kReplyBufferSize + 1];
extern uint32_t ReplyLength;

// The modem lines as one poll found them.
struct ModemLines {
  bool cts = false, dsr = false, ring = false, dcd = false;
  bool Connected() const { return dsr && dcd; }
};

enum class PollResult { Done, StatusFailed, Disconnected, TimedOut };

// Polls the status lines up to 1000 times, 1 ms apart, until `done` holds. With require_connected
// a poll that finds DSR or DCD inactive ends the wait at once.
PollResult PollLines(COMPort& port, ModemLines& lines, bool (*done)(const ModemLines&),
                     bool require_connected);

// All operations below work on a slot that passed the slot convention; failures are stored.
int32_t CheckIfc(uint16_t PortNumber);
int32_t WriteCommand(uint16_t PortNumber, char Command);
int32_t WriteCommand(uint16_t PortNumber, char Command, const char* Data);
// Sends Value as exactly Digits upper-case hex digits; a value that needs more is refused (-15)
// before anything is sent.
int32_t WriteCommandLong(uint16_t PortNumber, char Command, uint32_t Value, int Digits);
// DataLength 1 or more: exactly that many data bytes; below 1: any length up to the terminator.
int32_t ReadCommand(uint16_t PortNumber, char Command, int32_t DataLength);
int32_t ReadCommandBool(uint16_t PortNumber, char Command, int32_t& Value);
int32_t ReadCommandInt(uint16_t PortNumber, char Command, int32_t DataLength, uint32_t& Value);

// The one exchange of a device command: the interface check, the command with its optional data
// text, and the reply of DataLength data bytes, which is then in ReplyBuffer as a NUL-ended text.
int32_t Exchange(uint16_t PortNumber, char Command, const char* Data, int32_t DataLength);

// A command without data answered with "Y" or "N" (1 or 0), or with one hex number.
int32_t QueryBool(uint16_t PortNumber, char Command, int32_t& Value);
int32_t QueryInt(uint16_t PortNumber, char Command, int32_t DataLength, uint32_t& Value);

// "0"-"9" and "A"-"F" only.
bool ConvertHexDigit(char c, uint8_t& value);
// One hex number by the scanf "%X" rules: leading blanks, an optional sign and 0x prefix, digits
// of either case up to the first other character; false when nothing converts.
bool ScanHex(const char* text, uint32_t& value);
// The field of width characters at offset of the reply, converted on its own as by ScanHex.
bool HexField(const char* reply, uint32_t offset, uint32_t width, uint32_t& value);

// A well-framed reply with unusable content: the label (no line end), the dump, the optional
// detail line; stores and returns -14.
int32_t ReportWrongArgument(uint16_t PortNumber, const char* label, const char* detail);
// The dump of the last reply into the slot's debug file.
void WriteDataRead(uint16_t PortNumber);

// A caller's argument out of range: the function's line and -15, stored; nothing is sent.
int32_t RefuseArgument(uint16_t PortNumber, const char* function, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

// The frame of an exported device function: the slot convention, then the body; a failure is
// stored, success only when store_success is set.
template <class Body>
int32_t DeviceCall(uint16_t PortNumber, Body body, bool store_success = true) {
  PortSlot* slot = nullptr;
  if (const int32_t code = EnterSlot(PortNumber, slot); code != 0) return code;
  const int32_t code = body();
  if (code == 0 && !store_success) return 0;
  return Store(*slot, code);
}

}  // namespace zor
