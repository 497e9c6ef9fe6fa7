// The platform side of a serial port: the handful of operations the COMPort logic needs.
// One implementation per backend (termios, Win32, RFC 2217), chosen by port name.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace zor {

// Line-error bits, as ClearCommError reports them.
inline constexpr uint32_t CE_RXOVER = 0x0001;
inline constexpr uint32_t CE_OVERRUN = 0x0002;
inline constexpr uint32_t CE_RXPARITY = 0x0004;
inline constexpr uint32_t CE_FRAME = 0x0008;
inline constexpr uint32_t CE_BREAK = 0x0010;
inline constexpr uint32_t CE_TXFULL = 0x0100;
inline constexpr uint32_t CE_IOE = 0x0400;
inline constexpr uint32_t CE_MODE = 0x8000;

// Modem status bits, as GetCommModemStatus reports them.
inline constexpr uint32_t MS_CTS_ON = 0x0010;
inline constexpr uint32_t MS_DSR_ON = 0x0020;
inline constexpr uint32_t MS_RING_ON = 0x0040;
inline constexpr uint32_t MS_RLSD_ON = 0x0080;

inline constexpr uint32_t EV_TXEMPTY = 0x0004;

// The two read time-out sets of the port.
enum class Timeouts {
  Normal,  // return when all asked bytes arrived, 10 ms after the start, or 10 ms after the last byte
  Poll,    // return at once with what has arrived
};

enum class Escape { SetRts, ClrRts, SetDtr, ClrDtr };

class Line {
public:
  virtual ~Line() = default;

  // Read the current line settings (GetCommState).
  virtual bool GetState() = 0;
  // Apply 230400 baud, 8 data bits, even parity, 1 stop bit, no flow control on top of what
  // GetState read (SetCommState).
  virtual bool SetState() = 0;
  virtual bool SetTimeouts(Timeouts set) = 0;
  // Abort pending transfers and empty both queues.
  virtual bool Purge() = 0;
  // Read up to count bytes within the time-out set in force; a failure is not 0 bytes.
  virtual bool Read(char* data, uint32_t count, uint32_t& received) = 0;
  // As Read, but the read also ends as soon as a carriage return is among the bytes received, with
  // what has arrived by then; bytes that come later stay queued for the next read. A backend whose
  // platform cannot end a read at a character (Win32) reads as Read does.
  virtual bool ReadToTerminator(char* data, uint32_t count, uint32_t& received) = 0;
  virtual bool Write(const char* data, uint32_t count, uint32_t& written) = 0;
  // Fetch and reset the line-error word (CE_ bits).
  virtual uint32_t ClearErrors() = 0;
  virtual bool EscapeFunction(Escape function) = 0;
  // The MS_ bits of CTS, DSR, RING and DCD.
  virtual bool ModemStatus(uint32_t& status) = 0;
  // Wait for a port event; mask comes in as the awaited event and goes out as the one reported.
  virtual bool WaitEvent(uint32_t& mask) = 0;
  // Release the port; the object is destroyed afterwards whatever this returns.
  virtual bool Close() = 0;
};

using LineOpener = std::function<std::unique_ptr<Line>(const char* name)>;

// Opens a line by name: rfc2217://HOST:PORT for a network port, otherwise the platform's device.
// Returns nullptr when the port cannot be opened.
std::unique_ptr<Line> OpenLine(const char* name);

// The platform backend's own opener (termios or Win32).
std::unique_ptr<Line> OpenPlatformLine(const char* name);

// The platform's device name of COM<number>; empty when there is none (COM0).
std::string PlatformPortName(unsigned number);

// Lets tests put their own line behind every port that is opened; an empty opener restores the default.
void SetLineOpener(LineOpener opener);

}  // namespace zor
