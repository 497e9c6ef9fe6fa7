#include "framing.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "debug_file.h"
#include "sleep.h"

namespace zor {

char CommandBuffer[kCommandBufferSize];
char ReplyBuffer[kReplyBufferSize + 1];
uint32_t ReplyLength = 0;

namespace {

constexpr int kPolls = 1000;

COMPort& PortOf(uint16_t PortNumber) { return *FindSlot(PortNumber)->Port; }

int32_t Fail(uint16_t PortNumber, int32_t code) { return Store(*FindSlot(PortNumber), code); }

const char* YesNo(bool line) { return line ? "Y" : "N"; }

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool HexValue(char c, uint32_t& value) {
  if (c >= '0' && c <= '9') value = static_cast<uint32_t>(c - '0');
  else if (c >= 'A' && c <= 'F') value = static_cast<uint32_t>(c - 'A' + 10);
  else if (c >= 'a' && c <= 'f') value = static_cast<uint32_t>(c - 'a' + 10);
  else return false;
  return true;
}

bool CtsActive(const ModemLines& lines) { return lines.cts; }
bool Connected(const ModemLines& lines) { return lines.Connected(); }

}  // namespace

PollResult PollLines(COMPort& port, ModemLines& lines, bool (*done)(const ModemLines&),
                     bool require_connected) {
  for (int poll = 0; poll < kPolls; ++poll) {
    if (!port.Status(lines.cts, lines.dsr, lines.ring, lines.dcd)) return PollResult::StatusFailed;
    if (require_connected && !lines.Connected()) return PollResult::Disconnected;
    if (done(lines)) return PollResult::Done;
    SleepMs(1);
  }
  return PollResult::TimedOut;
}

int32_t CheckIfc(uint16_t PortNumber) {
  COMPort& port = PortOf(PortNumber);
  ModemLines lines;
  PollResult result = PollLines(port, lines, Connected, false);
  if (result == PollResult::Done) result = PollLines(port, lines, CtsActive, true);
  switch (result) {
    case PollResult::Done:
      return 0;
    case PollResult::StatusFailed:
      DebugLine(port, "PortNumber: %hu, CheckIfc: Error getting status\n", PortNumber);
      return Fail(PortNumber, -6);
    case PollResult::Disconnected:
      break;
    case PollResult::TimedOut:
      if (lines.Connected()) {
        DebugLine(port, "PortNumber: %hu, CheckIfc: device not ready - CTS=false\n", PortNumber);
        return Fail(PortNumber, -101);
      }
      break;
  }
  DebugLine(port, "PortNumber: %hu, CheckIfc: device not connected - DSR=%s, DCD=%s\n", PortNumber,
            YesNo(lines.dsr), YesNo(lines.dcd));
  return Fail(PortNumber, -100);
}

int32_t WriteCommand(uint16_t PortNumber, char Command) {
  if (const int32_t code = CheckIfc(PortNumber); code != 0) return code;
  COMPort& port = PortOf(PortNumber);
  if (!port.Write(Command)) {
    DebugLine(port, "PortNumber: %hu, WriteCommand: Error sending command '%c'\n", PortNumber,
              Command);
    return Fail(PortNumber, -7);
  }
  if (!port.Write(kTerminator)) {
    DebugLine(port, "PortNumber: %hu, WriteCommand: Error sending the termination character '%c'\n",
              PortNumber, Command);
    return Fail(PortNumber, -9);
  }
  return 0;
}

int32_t WriteCommand(uint16_t PortNumber, char Command, const char* Data) {
  if (const int32_t code = CheckIfc(PortNumber); code != 0) return code;
  COMPort& port = PortOf(PortNumber);
  if (!port.Write(Command)) {
    DebugLine(port, "PortNumber: %hu, WriteCommand: Error sending command '%c%s'\n", PortNumber,
              Command, Data);
    return Fail(PortNumber, -7);
  }
  if (!port.Write(Data, static_cast<unsigned>(std::strlen(Data)))) {
    DebugLine(port, "PortNumber: %hu, WriteCommand: Error sending data '%c%s'\n", PortNumber,
              Command, Data);
    return Fail(PortNumber, -8);
  }
  if (!port.Write(kTerminator)) {
    DebugLine(port,
              "PortNumber: %hu, WriteCommand: Error sending the termination character '%c%s'\n",
              PortNumber, Command, Data);
    return Fail(PortNumber, -9);
  }
  return 0;
}

int32_t WriteCommandLong(uint16_t PortNumber, char Command, uint32_t Value, int Digits) {
  const int length = std::snprintf(CommandBuffer, kCommandBufferSize, "%0*X", Digits, Value);
  if (length != Digits) {
    DebugLine(PortOf(PortNumber),
              "PortNumber: %hu, WriteCommand-long: Wrong argument passed to the function: "
              "long=%lu, digits=%d => '%s'\n",
              PortNumber, static_cast<unsigned long>(Value), Digits, CommandBuffer);
    return Fail(PortNumber, -15);
  }
  return WriteCommand(PortNumber, Command, CommandBuffer);
}

int32_t ReadCommand(uint16_t PortNumber, char Command, int32_t DataLength) {
  COMPort& port = PortOf(PortNumber);
  if (DataLength > kMaxDataLength) {
    return RefuseArgument(PortNumber, "ReadCommand", "DataLength=%d out of range", DataLength);
  }
  ReplyLength = DataLength >= 1 ? static_cast<uint32_t>(DataLength) + 1 : kReplyBufferSize;
  char echo = 0;
  if (!port.Read(echo, false)) {
    DebugLine(port, "PortNumber: %hu, ReadCommand: Error receiving command '%c'\n", PortNumber,
              Command);
    return Fail(PortNumber, -10);
  }
  uint32_t count = ReplyLength;
  const bool read = port.Read(ReplyBuffer, count, false, true);
  ReplyLength = count;
  if (!read) {
    DebugLine(port, "PortNumber: %hu, ReadCommand: Error receiving data of the command '%c'\n",
              PortNumber, echo);
    WriteDataRead(PortNumber);
    return Fail(PortNumber, -11);
  }
  if (echo != Command) {
    DebugLine(port, "PortNumber: %hu, ReadCommand: Wrong command received: '%c' instead of '%c'\n",
              PortNumber, echo, Command);
    WriteDataRead(PortNumber);
    return Fail(PortNumber, -13);
  }
  if (DataLength >= 1 && ReplyLength != static_cast<uint32_t>(DataLength) + 1) {
    DebugLine(port,
              "PortNumber: %hu, ReadCommand: Error receiving data: '%d' byte(s) expected, '%lu' "
              "byte(s) read\n",
              PortNumber, DataLength + 1, static_cast<unsigned long>(ReplyLength));
    WriteDataRead(PortNumber);
    return Fail(PortNumber, -11);
  }
  if (ReplyLength == 0 || ReplyBuffer[ReplyLength - 1] != kTerminator) {
    DebugLine(port,
              "PortNumber: %hu, ReadCommand: Error receiving the termination character of the "
              "command '%c'\n",
              PortNumber, Command);
    WriteDataRead(PortNumber);
    return Fail(PortNumber, -12);
  }
  ReplyBuffer[ReplyLength - 1] = '\0';
  return 0;
}

int32_t ReadCommandBool(uint16_t PortNumber, char Command, int32_t& Value) {
  if (const int32_t code = ReadCommand(PortNumber, Command, 1); code != 0) return code;
  if (ReplyBuffer[0] == 'Y' || ReplyBuffer[0] == 'N') {
    Value = ReplyBuffer[0] == 'Y' ? 1 : 0;
    return 0;
  }
  char label[96];
  std::snprintf(label, sizeof label, "ReadCommand-bool: Wrong argument received: command='%c', ",
                Command);
  return ReportWrongArgument(PortNumber, label, nullptr);
}

int32_t ReadCommandInt(uint16_t PortNumber, char Command, int32_t DataLength, uint32_t& Value) {
  if (const int32_t code = ReadCommand(PortNumber, Command, DataLength); code != 0) return code;
  if (ScanHex(ReplyBuffer, Value)) return 0;
  char label[96];
  std::snprintf(label, sizeof label, "ReadCommand-int: Wrong argument received: command='%c', ",
                Command);
  return ReportWrongArgument(PortNumber, label, nullptr);
}

int32_t Exchange(uint16_t PortNumber, char Command, const char* Data, int32_t DataLength) {
  if (DataLength > kMaxDataLength) {
    return RefuseArgument(PortNumber, "ReadCommand", "DataLength=%d out of range", DataLength);
  }
  const int32_t sent = Data != nullptr ? WriteCommand(PortNumber, Command, Data)
                                       : WriteCommand(PortNumber, Command);
  if (sent != 0) return sent;
  return ReadCommand(PortNumber, Command, DataLength);
}

int32_t QueryBool(uint16_t PortNumber, char Command, int32_t& Value) {
  if (const int32_t code = WriteCommand(PortNumber, Command); code != 0) return code;
  return ReadCommandBool(PortNumber, Command, Value);
}

int32_t QueryInt(uint16_t PortNumber, char Command, int32_t DataLength, uint32_t& Value) {
  if (const int32_t code = WriteCommand(PortNumber, Command); code != 0) return code;
  return ReadCommandInt(PortNumber, Command, DataLength, Value);
}

bool ConvertHexDigit(char c, uint8_t& value) {
  if (c >= 'a' && c <= 'f') return false;
  uint32_t v = 0;
  if (!HexValue(c, v)) return false;
  value = static_cast<uint8_t>(v);
  return true;
}

bool ScanHex(const char* text, uint32_t& value) {
  const char* p = text;
  while (IsBlank(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  uint32_t digit = 0;
  // "0x" counts as a prefix only when a digit follows; otherwise the "0" is the number.
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && HexValue(p[2], digit)) p += 2;
  if (!HexValue(*p, digit)) return false;
  uint32_t result = 0;
  while (HexValue(*p, digit)) {
    result = (result << 4) | digit;
    ++p;
  }
  value = negative ? 0u - result : result;
  return true;
}

bool HexField(const char* reply, uint32_t offset, uint32_t width, uint32_t& value) {
  char field[16] = {};
  if (width >= sizeof field) return false;
  std::memcpy(field, reply + offset, width);
  return ScanHex(field, value);
}

int32_t ReportWrongArgument(uint16_t PortNumber, const char* label, const char* detail) {
  COMPort& port = PortOf(PortNumber);
  DebugLine(port, "PortNumber: %hu, %s", PortNumber, label);
  WriteDataRead(PortNumber);
  if (detail != nullptr && port.DebugFile != nullptr) std::fputs(detail, port.DebugFile);
  return Fail(PortNumber, -14);
}

void WriteDataRead(uint16_t PortNumber) {
  WriteDataDump(PortOf(PortNumber).DebugFile, ReplyBuffer, ReplyLength);
}

int32_t RefuseArgument(uint16_t PortNumber, const char* function, const char* format, ...) {
  COMPort& port = PortOf(PortNumber);
  if (port.DebugFile != nullptr) {
    port.WriteDebugTime();
    std::fprintf(port.DebugFile, "PortNumber: %hu, %s: Wrong argument passed to the function: ",
                 PortNumber, function);
    va_list args;
    va_start(args, format);
    std::vfprintf(port.DebugFile, format, args);
    va_end(args);
    std::fputs("\n", port.DebugFile);
  }
  return Fail(PortNumber, -15);
}

}  // namespace zor
