// The termios backend of zor::Line: a serial device opened exclusively, reads timed with poll().
#pragma once

#include <termios.h>

#include <cstdint>
#include <memory>

#include "line.h"

namespace zor {

class PosixLine final : public Line {
public:
  // nullptr when the name is no terminal device, cannot be opened or is held by another opener.
  static std::unique_ptr<PosixLine> Open(const char* name);

  ~PosixLine() override;
  PosixLine(const PosixLine&) = delete;
  PosixLine& operator=(const PosixLine&) = delete;

  bool GetState() override;
  bool SetState() override;
  bool SetTimeouts(Timeouts set) override;
  bool Purge() override;
  bool Read(char* data, uint32_t count, uint32_t& received) override;
  bool ReadToTerminator(char* data, uint32_t count, uint32_t& received) override;
  bool Write(const char* data, uint32_t count, uint32_t& written) override;
  uint32_t ClearErrors() override;
  bool EscapeFunction(Escape function) override;
  bool ModemStatus(uint32_t& status) override;
  bool WaitEvent(uint32_t& mask) override;
  bool Close() override;

  // The open descriptor, -1 after Close.
  int Descriptor() const { return fd_; }

  // The driver's line-error counters.
  struct ErrorCounts {
    uint32_t frame = 0;
    uint32_t overrun = 0;
    uint32_t parity = 0;
    uint32_t brk = 0;
    uint32_t buf_overrun = 0;
  };

private:
  explicit PosixLine(int fd);
  bool ReadBytes(char* data, uint32_t count, uint32_t& received, bool to_terminator);
  uint32_t TakeHeld(char* data, uint32_t count, bool to_terminator, bool& ended);
  bool AwaitOutputDrained();

  int fd_;
  termios state_{};
  bool have_state_ = false;
  Timeouts timeouts_ = Timeouts::Normal;
  ErrorCounts counts_{};
  bool have_counts_ = false;
  // Bytes that a read to the terminator brought in behind it: the next read's first.
  static constexpr uint32_t kHeldSize = 4096;
  char held_[kHeldSize] = {};
  uint32_t held_count_ = 0;
};

}  // namespace zor
