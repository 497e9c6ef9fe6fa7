// The COMPort logic, the same on every platform; the platform calls go through zor::Line.
#include "COMPort.h"

#include <cstdarg>
#include <cstring>
#include <string>

#include "serial/line.h"
#include "sleep.h"

namespace {

constexpr char kTerminator = 0x0D;
constexpr unsigned kReadRepeats = 100;
constexpr uint32_t kRepeatSleepMs = 5;

const char* const kPortErrorTexts[] = {
    "No error",
    "Port has not been opened yet",
    "Cannot open the port",
    "Cannot get the state of the port",
    "Cannot set the state of the port",
    "Cannot set the timeouts for the port",
    "Cannot clear the port",
    "Error reading data from the port",
    "Error writing data to the port",
    "Wrong data amount written to the port",
    "Error setting the control lines of the port",
    "Error reading the status lines of the port",
    "Device is busy",
};

bool HasTerminator(const char* data, uint32_t count) {
  return std::memchr(data, kTerminator, count) != nullptr;
}

}  // namespace

COMPort::COMPort()
    : DebugFile(nullptr), Handle(nullptr), PortError(1), CommErrors(0), ReceiveBuffer{},
      ReceiveCount(0) {}

COMPort::~COMPort() { (void)Close(); }

void COMPort::Debug(const char* format, ...) {
  if (DebugFile == nullptr) return;
  WriteDebugTime();
  va_list args;
  va_start(args, format);
  std::vfprintf(DebugFile, format, args);
  va_end(args);
}

bool COMPort::Open(uint8_t COMNumber) {
  const std::string name = zor::PlatformPortName(COMNumber);
  if (!name.empty() || Handle != nullptr) return Open(name.c_str());
  // COM0 has no device on any platform.
  Debug("COMPort::Open: Cannot open the port COM%u\n", static_cast<unsigned>(COMNumber));
  PortError = 2;
  return false;
}

bool COMPort::Open(const char* PortName) {
  if (Handle != nullptr) {
    Debug("COMPort::Open: The port is already open\n");
    PortError = 2;
    return false;
  }
  if (!OpenLine(PortName)) return false;
  if (!Handle->GetState()) {
    Debug("COMPort::Open: Cannot get the port state\n");
    PortError = 3;
    return false;
  }
  if (!Handle->SetState()) {
    Debug("COMPort::Open: Cannot set the port state\n");
    PortError = 4;
    return false;
  }
  if (!SetCommTimeout()) {
    Debug("COMPort::Open: Cannot set the port timing\n");
    PortError = 5;
    return false;
  }
  if (!Purge()) {
    Debug("COMPort::Open: Cannot purge the port\n");
    return false;
  }
  if (!Control(true, true)) {
    Debug("COMPort::Open: Error setting the control lines of the port\n");
    return false;
  }
  return true;
}

bool COMPort::OpenLine(const char* PortName) {
  const char* name = PortName != nullptr ? PortName : "";
  std::unique_ptr<zor::Line> line = zor::OpenLine(name);
  if (!line) {
    Debug("COMPort::Open: Cannot open the port %s\n", name);
    PortError = 2;
    return false;
  }
  Handle = line.release();
  return true;
}

bool COMPort::Close() {
  PortError = 1;
  if (Handle == nullptr) {
    Debug("COMPort::Close: Port handle is invalid\n");
    return false;
  }
  // The handle is released even when the lines cannot be dropped (an unplugged adapter, a line
  // without modem control): otherwise the port could never be closed or opened again.
  const bool lines_dropped = Control(false, false);
  const bool closed = Handle->Close();
  delete Handle;
  Handle = nullptr;
  if (!closed) Debug("COMPort::Close: Cannot close the port\n");
  return lines_dropped && closed;
}

bool COMPort::Purge() {
  ReceiveCount = 0;
  if (Handle == nullptr || !Handle->Purge()) {
    Debug("COMPort::Purge: Cannot purge the port\n");
    PortError = 6;
    return false;
  }
  PortError = 0;
  return true;
}

bool COMPort::ResetCommTimeout() {
  if (Handle == nullptr || !Handle->SetTimeouts(zor::Timeouts::Poll)) {
    Debug("COMPort::ResetCommTimeout: Cannot set the port timing\n");
    return false;
  }
  return true;
}

bool COMPort::SetCommTimeout() {
  if (Handle == nullptr || !Handle->SetTimeouts(zor::Timeouts::Normal)) {
    Debug("COMPort::SetCommTimeout: Cannot set the port timing\n");
    return false;
  }
  return true;
}

bool COMPort::DeviceReady() {
  bool cts = false, dsr = false, ring = false, dcd = false;
  if (!Status(cts, dsr, ring, dcd)) {
    Debug("COMPort::DeviceReady: Error reading the status lines of the port\n");
    return false;
  }
  if (!cts) {
    Debug("COMPort::DeviceReady: Device not ready (CTS inactive)\n");
    PortError = 12;
    return false;
  }
  return true;
}

bool COMPort::DataAvailable() {
  if (ReceiveCount > 0) return true;
  (void)ResetCommTimeout();
  uint32_t got = 0;
  const bool read_ok = ReadPlatform(ReceiveBuffer, ReceiveBufferSize, got, false);
  ReceiveCount = read_ok ? got : 0;
  if (!read_ok) Debug("COMPort::DataAvailable: Cannot read the port\n");
  (void)SetCommTimeout();
  return read_ok && ReceiveCount > 0 && DeviceReady();
}

// One platform read followed by the line-error fetch that follows every transfer. A read that
// stops at the terminator lets the line end as soon as the terminator is in instead of waiting out
// its time-out; bytes that come after it stay queued for the next read.
bool COMPort::ReadPlatform(char* data, uint32_t count, uint32_t& got, bool StopAtTerminator) {
  got = 0;
  const bool ok = Handle != nullptr && (StopAtTerminator ? Handle->ReadToTerminator(data, count, got)
                                                         : Handle->Read(data, count, got));
  if (!ok) got = 0;
  CommErrors = Handle != nullptr ? Handle->ClearErrors() : 0;
  WriteCOMError();
  return ok;
}

bool COMPort::ReadFile(char* data, uint32_t count, uint32_t& Received, bool StopAtTerminator) {
  if (!ReadPlatform(data, count, Received, StopAtTerminator)) {
    Debug("COMPort::ReadFile: Could not read the port\n");
    PortError = 7;
    return false;
  }
  for (unsigned r = 1; r <= kReadRepeats; ++r) {
    if (Received >= count) return true;
    if (StopAtTerminator && HasTerminator(data, Received)) return true;
    Debug("COMPort::ReadFile: Could not read the data, repeating the operation #%u, data read so "
          "far: %lu, expected: %lu\n",
          r, static_cast<unsigned long>(Received), static_cast<unsigned long>(count));
    zor::SleepMs(kRepeatSleepMs);
    uint32_t got = 0;
    if (!ReadPlatform(data + Received, count - Received, got, StopAtTerminator)) {
      Debug("COMPort::ReadFile: Could not read the port\n");
      if (Received == 0) {
        PortError = 7;
        return false;
      }
    }
    Received += got;
  }
  return true;
}

bool COMPort::Read(char& c, bool SkipReadyCheck) {
  if (ReceiveCount == 0) {
    if (!SkipReadyCheck && !DeviceReady()) {
      Debug("COMPort::Read-char: Device not ready\n");
      return false;
    }
    if (!ReadFile(ReceiveBuffer, 1, ReceiveCount, true)) {
      Debug("COMPort::Read-char: Could not read the port\n");
      PortError = 7;
      return false;
    }
    if (ReceiveCount == 0) {
      Debug("COMPort::Read-char: Could not read the character from the port\n");
      PortError = 7;
      return false;
    }
  }
  c = ReceiveBuffer[0];
  --ReceiveCount;
  std::memmove(ReceiveBuffer, ReceiveBuffer + 1, ReceiveCount);
  PortError = 0;
  return true;
}

bool COMPort::Read(char* data, uint32_t& count, bool SkipReadyCheck, bool StopAtTerminator) {
  uint32_t wanted = count;
  count = 0;
  if (wanted > ReceiveCount) {
    if (ReceiveCount > 0) {
      // Hand out what is waiting first; ReceiveBuffer then only takes the missing bytes.
      std::memcpy(data, ReceiveBuffer, ReceiveCount);
      count = ReceiveCount;
      wanted -= ReceiveCount;
      data += ReceiveCount;
      ReceiveCount = 0;
      if (SkipReadyCheck || DeviceReady()) {
        const uint32_t missing = wanted < ReceiveBufferSize ? wanted : ReceiveBufferSize;
        if (!ReadFile(ReceiveBuffer, missing, ReceiveCount, StopAtTerminator)) {
          Debug("COMPort::Read-array: Cannot read the port\n");
          ReceiveCount = 0;
        }
      }
    } else {
      if (!SkipReadyCheck && !DeviceReady()) {
        Debug("COMPort::Read-array: Device not ready\n");
        ReceiveCount = 0;
        return false;
      }
      const uint32_t to_read = wanted < ReceiveBufferSize ? wanted : ReceiveBufferSize;
      if (!ReadFile(ReceiveBuffer, to_read, ReceiveCount, StopAtTerminator)) {
        Debug("COMPort::Read-array: Could not read the port\n");
        ReceiveCount = 0;
        PortError = 7;
        return false;
      }
    }
  }
  const uint32_t n = wanted < ReceiveCount ? wanted : ReceiveCount;
  std::memcpy(data, ReceiveBuffer, n);
  data[n] = '\0';
  ReceiveCount -= n;
  std::memmove(ReceiveBuffer, ReceiveBuffer + n, ReceiveCount);
  count += n;
  PortError = 0;
  return true;
}

bool COMPort::Write(char c) {
  uint32_t written = 0;
  const bool ok = Handle != nullptr && Handle->Write(&c, 1, written);
  CommErrors = Handle != nullptr ? Handle->ClearErrors() : 0;
  WriteCOMError();
  if (!ok) {
    Debug("COMPort::Write-char: Cannot write the port\n");
    PortError = 8;
    return false;
  }
  if (written != 1) {
    Debug("COMPort::Write-char: %lu bytes instead of 1 written to the port\n",
          static_cast<unsigned long>(written));
    PortError = 9;
    return false;
  }
  PortError = 0;
  return true;
}

bool COMPort::Write(const char* const data, unsigned int count) {
  uint32_t written = 0;
  const bool ok = Handle != nullptr && Handle->Write(data, count, written);
  CommErrors = Handle != nullptr ? Handle->ClearErrors() : 0;
  WriteCOMError();
  if (!ok) {
    Debug("COMPort::Write-array: Cannot write the port\n");
    PortError = 8;
    return false;
  }
  if (written != count) {
    Debug("COMPort::Write-array: %lu bytes instead of %u written to the port\n",
          static_cast<unsigned long>(written), count);
    PortError = 9;
    return false;
  }
  PortError = 0;
  return true;
}

bool COMPort::WaitWriteBufferEmpty() {
  uint32_t mask = zor::EV_TXEMPTY;
  if (Handle == nullptr || !Handle->WaitEvent(mask)) {
    Debug("COMPort::WaitWriteBufferEmpty: Error waiting for port events\n");
    return false;
  }
  return mask == zor::EV_TXEMPTY;
}

bool COMPort::Control(bool DTR, bool RTS) {
  bool ok = Handle != nullptr &&
            Handle->EscapeFunction(RTS ? zor::Escape::SetRts : zor::Escape::ClrRts);
  ok = ok && Handle->EscapeFunction(DTR ? zor::Escape::SetDtr : zor::Escape::ClrDtr);
  if (!ok) {
    Debug("COMPort::Control: Error setting the control lines of the port\n");
    PortError = 10;
    return false;
  }
  PortError = 0;
  return true;
}

bool COMPort::Status(bool& CTS, bool& DSR, bool& RING, bool& DCD) {
  uint32_t status = 0;
  if (Handle == nullptr || !Handle->ModemStatus(status)) {
    Debug("COMPort::Status: Error reading the status lines of the port\n");
    PortError = 11;
    return false;
  }
  CTS = (status & zor::MS_CTS_ON) != 0;
  DSR = (status & zor::MS_DSR_ON) != 0;
  RING = (status & zor::MS_RING_ON) != 0;
  DCD = (status & zor::MS_RLSD_ON) != 0;
  PortError = 0;
  return true;
}

const char* COMPort::ErrorMessage() {
  constexpr int32_t count = static_cast<int32_t>(sizeof kPortErrorTexts / sizeof kPortErrorTexts[0]);
  if (PortError < 0 || PortError >= count) return "Unknown error";
  return kPortErrorTexts[PortError];
}
