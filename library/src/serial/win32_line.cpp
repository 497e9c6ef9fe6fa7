// The Win32 backend of zor::Line: a COM port opened exclusively with synchronous transfers, its
// read time-outs left to the driver through COMMTIMEOUTS.

// line.h first: <windows.h> defines the same CE_, MS_ and EV_ names as macros.
#include "line.h"
#include "win32_line.h"

namespace {
// The backend hands the driver's words on as they are, so our bits must be the driver's.
constexpr uint32_t kLineErrorBits[] = {zor::CE_RXOVER, zor::CE_OVERRUN, zor::CE_RXPARITY,
                                       zor::CE_FRAME,  zor::CE_BREAK,   zor::CE_TXFULL,
                                       zor::CE_IOE,    zor::CE_MODE};
constexpr uint32_t kModemBits[] = {zor::MS_CTS_ON, zor::MS_DSR_ON, zor::MS_RING_ON, zor::MS_RLSD_ON};
constexpr uint32_t kTxEmpty = zor::EV_TXEMPTY;
}  // namespace

#include <windows.h>

#include <cctype>
#include <cstdio>
#include <new>
#include <string>

static_assert(kLineErrorBits[0] == CE_RXOVER && kLineErrorBits[1] == CE_OVERRUN &&
              kLineErrorBits[2] == CE_RXPARITY && kLineErrorBits[3] == CE_FRAME &&
              kLineErrorBits[4] == CE_BREAK && kLineErrorBits[5] == CE_TXFULL &&
              kLineErrorBits[6] == CE_IOE && kLineErrorBits[7] == CE_MODE);
static_assert(kModemBits[0] == MS_CTS_ON && kModemBits[1] == MS_DSR_ON &&
              kModemBits[2] == MS_RING_ON && kModemBits[3] == MS_RLSD_ON);
static_assert(kTxEmpty == EV_TXEMPTY);

namespace zor {

namespace {

// The normal set: a read returns when all bytes came, 10 ms after it began or 10 ms after the
// last byte. Writes have no time-out.
constexpr COMMTIMEOUTS kNormalTimeouts{10, 0, 10, 0, 0};
// The poll set: a read returns at once with what has arrived.
constexpr COMMTIMEOUTS kPollTimeouts{MAXDWORD, 0, 0, 0, 0};

constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

// 230400 baud 8E1 without flow control; DTR and RTS follow EscapeCommFunction only. The fields
// not named here keep what the driver reported.
void ApplyLineSettings(DCB& dcb) {
  dcb.BaudRate = 230400;
  dcb.ByteSize = 8;
  dcb.Parity = EVENPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fParity = TRUE;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDtrControl = DTR_CONTROL_DISABLE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fTXContinueOnXoff = TRUE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.fRtsControl = RTS_CONTROL_DISABLE;
  dcb.fAbortOnError = FALSE;
  dcb.EvtChar = 0x0D;
}

bool IsBareComName(const char* name) {
  if (std::toupper(static_cast<unsigned char>(name[0])) != 'C' ||
      std::toupper(static_cast<unsigned char>(name[1])) != 'O' ||
      std::toupper(static_cast<unsigned char>(name[2])) != 'M' || name[3] == '\0') {
    return false;
  }
  for (const char* p = name + 3; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return false;
  }
  return true;
}

class Win32Line final : public Line {
public:
  explicit Win32Line(HANDLE handle) : handle_(handle) {}
  ~Win32Line() override {
    if (handle_ != INVALID_HANDLE_VALUE) Close();
  }
  Win32Line(const Win32Line&) = delete;
  Win32Line& operator=(const Win32Line&) = delete;

  bool GetState() override {
    dcb_ = DCB{};
    dcb_.DCBlength = sizeof dcb_;
    have_state_ = ::GetCommState(handle_, &dcb_) != FALSE;
    return have_state_;
  }

  bool SetState() override {
    if (!have_state_ && !GetState()) return false;
    DCB want = dcb_;
    ApplyLineSettings(want);
    return ::SetCommState(handle_, &want) != FALSE;
  }

  bool SetTimeouts(Timeouts set) override {
    COMMTIMEOUTS timeouts = set == Timeouts::Normal ? kNormalTimeouts : kPollTimeouts;
    return ::SetCommTimeouts(handle_, &timeouts) != FALSE;
  }

  bool Purge() override { return ::PurgeComm(handle_, kPurgeAll) != FALSE; }

  bool Read(char* data, uint32_t count, uint32_t& received) override {
    DWORD got = 0;
    const BOOL ok = ::ReadFile(handle_, data, count, &got, nullptr);
    received = got;
    return ok != FALSE;
  }

  // COMMTIMEOUTS know no end character (EvtChar only raises an event): the read runs its
  // time-out as ever, and a reply of unknown length costs the 10 ms here.
  bool ReadToTerminator(char* data, uint32_t count, uint32_t& received) override {
    return Read(data, count, received);
  }

  bool Write(const char* data, uint32_t count, uint32_t& written) override {
    DWORD put = 0;
    const BOOL ok = ::WriteFile(handle_, data, count, &put, nullptr);
    written = put;
    return ok != FALSE;
  }

  uint32_t ClearErrors() override {
    DWORD errors = 0;
    COMSTAT status{};
    if (::ClearCommError(handle_, &errors, &status) == FALSE) return 0;
    return errors;
  }

  bool EscapeFunction(Escape function) override {
    DWORD code = CLRDTR;
    switch (function) {
      case Escape::SetRts: code = SETRTS; break;
      case Escape::ClrRts: code = CLRRTS; break;
      case Escape::SetDtr: code = SETDTR; break;
      case Escape::ClrDtr: code = CLRDTR; break;
    }
    return ::EscapeCommFunction(handle_, code) != FALSE;
  }

  bool ModemStatus(uint32_t& status) override {
    DWORD lines = 0;
    if (::GetCommModemStatus(handle_, &lines) == FALSE) return false;
    status = lines;
    return true;
  }

  // The port sets no event mask of its own; a driver without one refuses the wait at once.
  bool WaitEvent(uint32_t& mask) override {
    DWORD events = mask;
    if (::WaitCommEvent(handle_, &events, nullptr) == FALSE) return false;
    mask = events;
    return true;
  }

  bool Close() override {
    const BOOL ok = ::CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    return ok != FALSE;
  }

private:
  HANDLE handle_;
  DCB dcb_{};
  bool have_state_ = false;
};

}  // namespace

std::string Win32DeviceName(const char* name) {
  if (name == nullptr) return {};
  return IsBareComName(name) ? std::string("\\\\.\\") + name : std::string(name);
}

std::unique_ptr<Line> OpenPlatformLine(const char* name) {
  if (name == nullptr || *name == '\0') return nullptr;
  // No sharing, no security attributes, no flags: exclusive and synchronous.
  const std::string device = Win32DeviceName(name);
  HANDLE handle = ::CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  Win32Line* line = new (std::nothrow) Win32Line(handle);
  if (line == nullptr) ::CloseHandle(handle);
  return std::unique_ptr<Line>(line);
}

std::string PlatformPortName(unsigned number) {
  if (number == 0) return {};  // COM ports count from 1
  char name[32];
  std::snprintf(name, sizeof name, "\\\\.\\COM%u", number);
  return name;
}

}  // namespace zor
