#include "posix_line.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>
#include <string>
#include <utility>

namespace zor {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The normal set's total read time-out. Its 10 ms interval timer starts at the first byte and so
// always ends after the total one: the total deadline alone decides when a read returns.
constexpr milliseconds kReadTotal{10};
constexpr char kTerminator = 0x0D;
// Writes have no time-out, but a line whose driver takes no byte for this long is given up.
constexpr milliseconds kWriteStall{1000};

// Every flag SetState decides, set or cleared, and so checks after applying.
constexpr tcflag_t kInputFlags = IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP | INLCR | IGNCR |
                                 ICRNL | IXON | IXOFF | IXANY | IMAXBEL;
// Without IGNPAR and PARMRK a byte with a parity error reads as NUL: the byte count stays right and
// the error shows in the counters.
constexpr tcflag_t kInputSet = INPCK;
constexpr tcflag_t kOutputFlags = OPOST;
constexpr tcflag_t kOutputSet = 0;
constexpr tcflag_t kLocalFlags = ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN | TOSTOP;
constexpr tcflag_t kLocalSet = 0;
// HUPCL cleared: DTR and RTS follow EscapeFunction only, also when the port is closed.
constexpr tcflag_t kControlFlags = CSIZE | CSTOPB | CREAD | PARENB | PARODD | CMSPAR | HUPCL | CLOCAL | CRTSCTS;
constexpr tcflag_t kControlSet = CS8 | CREAD | PARENB | CLOCAL;
constexpr speed_t kSpeed = B230400;

termios LineSettings(termios t) {
  t.c_iflag = (t.c_iflag & ~kInputFlags) | kInputSet;
  t.c_oflag = (t.c_oflag & ~kOutputFlags) | kOutputSet;
  t.c_lflag = (t.c_lflag & ~kLocalFlags) | kLocalSet;
  t.c_cflag = (t.c_cflag & ~kControlFlags) | kControlSet;
  // With VMIN 1 and O_NONBLOCK an empty queue reads as EAGAIN, so 0 bytes means end of file.
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  cfsetispeed(&t, kSpeed);
  cfsetospeed(&t, kSpeed);
  return t;
}

bool SettingsTook(const termios& want, const termios& got) {
  return (got.c_iflag & kInputFlags) == (want.c_iflag & kInputFlags) &&
         (got.c_oflag & kOutputFlags) == (want.c_oflag & kOutputFlags) &&
         (got.c_lflag & kLocalFlags) == (want.c_lflag & kLocalFlags) &&
         (got.c_cflag & kControlFlags) == (want.c_cflag & kControlFlags) &&
         got.c_cc[VMIN] == want.c_cc[VMIN] && got.c_cc[VTIME] == want.c_cc[VTIME] &&
         cfgetispeed(&got) == kSpeed && cfgetospeed(&got) == kSpeed;
}

// Milliseconds left until deadline, rounded up so that a wait never ends before it.
int RemainingMs(Clock::time_point deadline) {
  const auto left = deadline - Clock::now();
  if (left <= Clock::duration::zero()) return 0;
  return static_cast<int>(std::chrono::ceil<milliseconds>(left).count());
}

// Waits up to ms for events on fd. False when the device reports an error or hang-up; a time-out
// or a signal is not a failure, the caller looks at its deadline again.
bool AwaitEvents(int fd, short events, int ms) {
  pollfd p{fd, events, 0};
  const int ready = ::poll(&p, 1, ms);
  if (ready < 0) return errno == EINTR;
  return (p.revents & (POLLERR | POLLHUP | POLLNVAL)) == 0;
}

bool FetchCounts(int fd, PosixLine::ErrorCounts& counts) {
  serial_icounter_struct icount{};
  if (::ioctl(fd, TIOCGICOUNT, &icount) != 0) return false;
  counts.frame = static_cast<uint32_t>(icount.frame);
  counts.overrun = static_cast<uint32_t>(icount.overrun);
  counts.parity = static_cast<uint32_t>(icount.parity);
  counts.brk = static_cast<uint32_t>(icount.brk);
  counts.buf_overrun = static_cast<uint32_t>(icount.buf_overrun);
  return true;
}

uint32_t ErrorsBetween(const PosixLine::ErrorCounts& before, const PosixLine::ErrorCounts& now) {
  uint32_t errors = 0;
  if (now.parity != before.parity) errors |= CE_RXPARITY;
  if (now.frame != before.frame) errors |= CE_FRAME;
  if (now.overrun != before.overrun) errors |= CE_OVERRUN;
  if (now.brk != before.brk) errors |= CE_BREAK;
  if (now.buf_overrun != before.buf_overrun) errors |= CE_RXOVER;
  return errors;
}

}  // namespace

std::unique_ptr<PosixLine> PosixLine::Open(const char* name) {
  if (name == nullptr || *name == '\0') return nullptr;
  // O_NONBLOCK: open does not wait for DCD, and every later wait is our own bounded poll().
  const int fd = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  // The lock first: a port held by another opener keeps its exclusive flag untouched by us.
  // flock also holds against root, whom TIOCEXCL lets through.
  if (::isatty(fd) != 1 || ::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ioctl(fd, TIOCEXCL) != 0) {
    ::close(fd);
    return nullptr;
  }
  PosixLine* line = new (std::nothrow) PosixLine(fd);
  if (line == nullptr) ::close(fd);
  return std::unique_ptr<PosixLine>(line);
}

PosixLine::PosixLine(int fd) : fd_(fd) { have_counts_ = FetchCounts(fd_, counts_); }

PosixLine::~PosixLine() {
  if (fd_ >= 0) Close();
}

bool PosixLine::GetState() {
  have_state_ = fd_ >= 0 && ::tcgetattr(fd_, &state_) == 0;
  return have_state_;
}

bool PosixLine::SetState() {
  if (!have_state_ && !GetState()) return false;
  const termios want = LineSettings(state_);
  if (::tcsetattr(fd_, TCSANOW, &want) != 0) return false;
  // tcsetattr succeeds when any one change took: only the read-back tells.
  termios got{};
  return ::tcgetattr(fd_, &got) == 0 && SettingsTook(want, got);
}

bool PosixLine::SetTimeouts(Timeouts set) {
  if (fd_ < 0) return false;
  timeouts_ = set;
  return true;
}

bool PosixLine::Purge() {
  held_count_ = 0;
  return fd_ >= 0 && ::tcflush(fd_, TCIOFLUSH) == 0;
}

bool PosixLine::Read(char* data, uint32_t count, uint32_t& received) {
  return ReadBytes(data, count, received, false);
}

bool PosixLine::ReadToTerminator(char* data, uint32_t count, uint32_t& received) {
  return ReadBytes(data, count, received, true);
}

// Hands out held bytes, up to and including a terminator when the read is to one.
uint32_t PosixLine::TakeHeld(char* data, uint32_t count, bool to_terminator, bool& ended) {
  uint32_t n = std::min(count, held_count_);
  const void* terminator = to_terminator ? std::memchr(held_, kTerminator, n) : nullptr;
  if (terminator != nullptr) n = static_cast<uint32_t>(static_cast<const char*>(terminator) - held_) + 1;
  ended = terminator != nullptr;
  if (n == 0) return 0;
  std::memcpy(data, held_, n);
  held_count_ -= n;
  std::memmove(held_, held_ + n, held_count_);
  return n;
}

bool PosixLine::ReadBytes(char* data, uint32_t count, uint32_t& received, bool to_terminator) {
  received = 0;
  if (fd_ < 0 || (data == nullptr && count > 0)) return false;
  bool ended = false;
  received = TakeHeld(data, count, to_terminator, ended);
  if (ended) return true;
  const auto deadline = Clock::now() + (timeouts_ == Timeouts::Normal ? kReadTotal : milliseconds{0});
  while (received < count) {
    // A read to the terminator takes no more than what is behind it can be held.
    const uint32_t ask = to_terminator ? std::min(count - received, kHeldSize) : count - received;
    const ssize_t n = ::read(fd_, data + received, ask);
    if (n > 0) {
      const char* got = data + received;
      const void* terminator = to_terminator ? std::memchr(got, kTerminator, static_cast<size_t>(n)) : nullptr;
      if (terminator != nullptr) {
        // What came behind the terminator is the next read's.
        const auto taken = static_cast<uint32_t>(static_cast<const char*>(terminator) - got) + 1;
        held_count_ = static_cast<uint32_t>(n) - taken;
        std::memcpy(held_, got + taken, held_count_);
        received += taken;
        break;
      }
      received += static_cast<uint32_t>(n);
      continue;
    }
    if (n == 0) return false;  // hung up or unplugged
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
    const int wait = RemainingMs(deadline);
    if (wait == 0) break;
    if (!AwaitEvents(fd_, POLLIN, wait)) return false;
  }
  return true;
}

bool PosixLine::Write(const char* data, uint32_t count, uint32_t& written) {
  written = 0;
  if (fd_ < 0 || (data == nullptr && count > 0)) return false;
  auto give_up = Clock::now() + kWriteStall;
  while (written < count) {
    const ssize_t n = ::write(fd_, data + written, count - written);
    if (n > 0) {
      written += static_cast<uint32_t>(n);
      give_up = Clock::now() + kWriteStall;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
    const int wait = RemainingMs(give_up);
    if (wait == 0) break;  // the driver takes no more: the short count tells the caller
    if (!AwaitEvents(fd_, POLLOUT, wait)) return false;
  }
  return true;
}

uint32_t PosixLine::ClearErrors() {
  ErrorCounts now;
  if (fd_ < 0 || !FetchCounts(fd_, now)) return 0;  // a driver without counters reports none
  const uint32_t errors = have_counts_ ? ErrorsBetween(counts_, now) : 0;
  counts_ = now;
  have_counts_ = true;
  return errors;
}

bool PosixLine::EscapeFunction(Escape function) {
  if (fd_ < 0) return false;
  const bool set = function == Escape::SetRts || function == Escape::SetDtr;
  const bool rts = function == Escape::SetRts || function == Escape::ClrRts;
  int bits = rts ? TIOCM_RTS : TIOCM_DTR;
  return ::ioctl(fd_, set ? TIOCMBIS : TIOCMBIC, &bits) == 0;
}

bool PosixLine::ModemStatus(uint32_t& status) {
  int lines = 0;
  if (fd_ < 0 || ::ioctl(fd_, TIOCMGET, &lines) != 0) return false;
  status = 0;
  if (lines & TIOCM_CTS) status |= MS_CTS_ON;
  if (lines & TIOCM_DSR) status |= MS_DSR_ON;
  if (lines & TIOCM_RI) status |= MS_RING_ON;
  if (lines & TIOCM_CD) status |= MS_RLSD_ON;
  return true;
}

// tcdrain has no time-out of its own: wait for the driver's queue first, giving up when it stops
// shrinking, so that tcdrain is left only the hardware's few bytes.
bool PosixLine::AwaitOutputDrained() {
  int last = -1;
  auto give_up = Clock::now() + kWriteStall;
  for (;;) {
    int queued = 0;
    if (::ioctl(fd_, TIOCOUTQ, &queued) != 0) return errno == ENOTTY || errno == EINVAL;
    if (queued <= 0) return true;
    if (last < 0 || queued < last) give_up = Clock::now() + kWriteStall;
    if (Clock::now() >= give_up) return false;
    last = queued;
    ::poll(nullptr, 0, 1);  // a 1 ms pause
  }
}

bool PosixLine::WaitEvent(uint32_t& mask) {
  // Transmit-empty is the one event this port can wait for.
  if (fd_ < 0 || (mask & EV_TXEMPTY) == 0) return false;
  if (!AwaitOutputDrained()) return false;
  int result;
  do {
    result = ::tcdrain(fd_);
  } while (result != 0 && errno == EINTR);
  if (result != 0) return false;
  mask = EV_TXEMPTY;
  return true;
}

bool PosixLine::Close() {
  held_count_ = 0;
  if (fd_ < 0) return false;
  ::ioctl(fd_, TIOCNXCL);
  ::flock(fd_, LOCK_UN);
  return ::close(std::exchange(fd_, -1)) == 0;
}

std::unique_ptr<Line> OpenPlatformLine(const char* name) { return PosixLine::Open(name); }

std::string PlatformPortName(unsigned number) {
  if (number == 0) return {};
  return "/dev/ttyS" + std::to_string(number - 1);
}

}  // namespace zor
