#include "debug_file.h"

#include <cstdarg>
#include <ctime>

#include "COM-ZOR4.h"

namespace zor {

namespace {

// English names whatever the locale.
constexpr const char* kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

struct LineErrorWord {
  uint32_t bit;
  const char* word;
};

constexpr LineErrorWord kLineErrorWords[] = {
    {0x0010, " break"},   {0x0008, " framing"}, {0x0400, " I/O"},      {0x8000, " invalid"},
    {0x0002, " overrun"}, {0x0001, " overflow"}, {0x0004, " parity"},  {0x0100, " full"},
};

constexpr uint32_t kMaxDump = 8192;

}  // namespace

int32_t CloseSlotDebugFile(PortSlot& slot) {
  COMPort& port = *slot.Port;
  if (port.DebugFile == nullptr) return 0;
  port.WriteDebugTime();
  std::fputs("File closed by COM_ZOR4_CloseDebugFile\n", port.DebugFile);
  const bool closed = std::fclose(port.DebugFile) == 0;
  port.DebugFile = nullptr;
  return closed ? 0 : Store(slot, -401);
}

void WriteDataDump(FILE* file, const char* data, uint32_t length) {
  if (file == nullptr) return;
  if (length > kMaxDump) length = kMaxDump;
  std::fputs("Data read: '", file);
  for (uint32_t i = 0; i < length; ++i) {
    const auto byte = static_cast<unsigned char>(data[i]);
    if (byte >= 0x20 && byte <= 0x7F) {
      std::fputc(byte, file);
    } else {
      std::fprintf(file, "\\x%02X", static_cast<unsigned>(byte));
    }
  }
  std::fputs("'\n", file);
}

void DebugLine(COMPort& port, const char* format, ...) {
  if (port.DebugFile == nullptr) return;
  port.WriteDebugTime();
  va_list args;
  va_start(args, format);
  std::vfprintf(port.DebugFile, format, args);
  va_end(args);
}

}  // namespace zor

void COMPort::WriteDebugTime() {
  if (DebugFile == nullptr) return;
  const std::time_t now = std::time(nullptr);
  const std::tm* t = std::localtime(&now);
  if (t == nullptr) return;
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%s %s %02d %02d:%02d:%02d %4d%s",
                zor::kWeekdays[(t->tm_wday % 7 + 7) % 7], zor::kMonths[(t->tm_mon % 12 + 12) % 12],
                t->tm_mday, t->tm_hour, t->tm_min, t->tm_sec, t->tm_year + 1900, "\n");
  std::fprintf(DebugFile, "\n%s", stamp);
}

void COMPort::WriteCOMError() {
  if (DebugFile == nullptr || CommErrors == 0) return;
  WriteDebugTime();
  std::fprintf(DebugFile, "CommError = %08lX:", static_cast<unsigned long>(CommErrors));
  for (const zor::LineErrorWord& entry : zor::kLineErrorWords) {
    if ((CommErrors & entry.bit) != 0) std::fputs(entry.word, DebugFile);
  }
  std::fputs("\n", DebugFile);
}

using zor::PortSlot;

extern "C" {

int32_t COM_ZOR4_OpenDebugFile(uint16_t PortNumber, const char* FileName) {
  PortSlot* slot = nullptr;
  if (const int32_t code = zor::EnterSlot(PortNumber, slot); code != 0) return code;
  if (const int32_t code = zor::CloseSlotDebugFile(*slot); code != 0) return code;
  FILE* file = FileName != nullptr ? std::fopen(FileName, "w+") : nullptr;
  if (file == nullptr) return zor::Store(*slot, -400);
  COMPort& port = *slot->Port;
  port.DebugFile = file;
  std::fprintf(file, "Debugging output file for PortNumber=%hu\n", PortNumber);
  port.WriteDebugTime();
  std::fputs("File opened by COM_ZOR4_OpenDebugFile\n", file);
  return 0;
}

int32_t COM_ZOR4_CloseDebugFile(uint16_t PortNumber) {
  PortSlot* slot = nullptr;
  if (const int32_t code = zor::EnterSlot(PortNumber, slot); code != 0) return code;
  return zor::CloseSlotDebugFile(*slot);
}

}  // extern "C"
