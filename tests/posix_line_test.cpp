// The termios line against a real pseudo-terminal: the test holds the master side and the line
// opens the slave by name, as it opens /dev/ttyS0.
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "COMPort.h"
#include "serial/line.h"
#include "serial/posix_line.h"

namespace zor {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

bool AwaitReadable(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, ms) == 1 && (p.revents & POLLIN) != 0;
}

// The master side of a pseudo-terminal; its slave stands for the serial device.
class Pty {
public:
  Pty() : master_(::posix_openpt(O_RDWR | O_NOCTTY)) {
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
    if (const char* name = ::ptsname(master_)) slave_name_ = name;
  }
  ~Pty() { CloseMaster(); }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  int master() const { return master_; }
  const char* slave_name() const { return slave_name_.c_str(); }
  bool ok() const { return !slave_name_.empty(); }
  void CloseMaster() {
    if (master_ >= 0) ::close(std::exchange(master_, -1));
  }
  bool Send(std::string_view bytes) const {
    return ::write(master_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }
  // What the line wrote, up to count bytes, waiting up to ms for each chunk.
  std::string Receive(size_t count, int ms = 1000) const {
    std::string got;
    char chunk[4096];
    while (got.size() < count && AwaitReadable(master_, ms)) {
      const ssize_t n = ::read(master_, chunk, std::min(sizeof chunk, count - got.size()));
      if (n <= 0) break;
      got.append(chunk, static_cast<size_t>(n));
    }
    return got;
  }

private:
  int master_;
  std::string slave_name_;
};

std::string EveryByteValue() {
  std::string all(256, '\0');
  for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<char>(i);
  return all;
}

TEST(PosixPortName, ComNumbersCountFromTtyS0) {
  const std::pair<unsigned, const char*> cases[] = {
      {0, ""}, {1, "/dev/ttyS0"}, {2, "/dev/ttyS1"}, {255, "/dev/ttyS254"}};
  for (const auto& [number, name] : cases) EXPECT_EQ(PlatformPortName(number), name) << number;
}

TEST(PosixLineOpen, RefusesNamesThatAreNoTerminalDevice) {
  char file[] = "/tmp/posix_line_test_XXXXXX";
  const int fd = ::mkstemp(file);
  ASSERT_GE(fd, 0);
  ::close(fd);
  const char* names[] = {nullptr, "", "/dev/no-such-tty", "/dev/null", file};
  for (const char* name : names) EXPECT_EQ(OpenPlatformLine(name), nullptr) << (name ? name : "nullptr");
  ::unlink(file);
}

// Every setting is made explicitly, whatever the device had before; only the even parity that a
// pty cannot do is refused, and SetState tells.
TEST(PosixLineSettings, OverrideWhatTheDeviceHadAndReportTheRefusedParity) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  termios before{};
  ASSERT_EQ(::tcgetattr(pty.master(), &before), 0);  // the master reads and sets the slave's settings
  before.c_iflag |= IGNBRK | BRKINT | IGNPAR | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY;
  before.c_iflag &= ~static_cast<tcflag_t>(INPCK);
  before.c_oflag |= OPOST | ONLCR;
  before.c_lflag |= ICANON | ECHO | ECHONL | ISIG | IEXTEN;
  before.c_cflag |= CSTOPB | PARODD | CMSPAR | HUPCL | CRTSCTS;
  before.c_cflag &= ~static_cast<tcflag_t>(CLOCAL);
  ASSERT_EQ(::cfsetspeed(&before, B9600), 0);
  ASSERT_EQ(::tcsetattr(pty.master(), TCSANOW, &before), 0);

  auto line = PosixLine::Open(pty.slave_name());
  ASSERT_NE(line, nullptr);
  ASSERT_TRUE(line->GetState());
  EXPECT_FALSE(line->SetState());

  termios t{};
  ASSERT_EQ(::tcgetattr(line->Descriptor(), &t), 0);
  EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B230400));
  EXPECT_EQ(::cfgetispeed(&t), static_cast<speed_t>(B230400));
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (CREAD | CLOCAL), static_cast<tcflag_t>(CREAD | CLOCAL));
  EXPECT_EQ(t.c_cflag & PARENB, 0u) << "a pty has taken even parity: SetState's result must follow";
  EXPECT_EQ(t.c_cflag & (PARODD | CMSPAR | CSTOPB | CRTSCTS | HUPCL), 0u);
  EXPECT_EQ(t.c_iflag & INPCK, static_cast<tcflag_t>(INPCK));
  EXPECT_EQ(t.c_iflag & (IGNBRK | BRKINT | IGNPAR | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY),
            0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN), 0u);
}

// An opened pty line with the settings applied (all but the parity the pty refuses).
class PosixLineTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(pty_.ok());
    line_ = OpenPlatformLine(pty_.slave_name());
    ASSERT_NE(line_, nullptr);
    posix_ = dynamic_cast<PosixLine*>(line_.get());
    ASSERT_NE(posix_, nullptr);
    ASSERT_TRUE(line_->GetState());
    line_->SetState();
    ASSERT_TRUE(line_->SetTimeouts(Timeouts::Normal));
  }

  // Waits until bytes the master sent are waiting at the line.
  void AwaitPending() const { ASSERT_TRUE(AwaitReadable(posix_->Descriptor(), 1000)); }

  struct TimedRead {
    bool ok;
    std::string data;
    double ms;
  };
  TimedRead Read(uint32_t count, bool to_terminator = false) {
    std::vector<char> buffer(count);
    uint32_t received = 12345;
    const auto start = Clock::now();
    const bool ok = to_terminator ? line_->ReadToTerminator(buffer.data(), count, received)
                                  : line_->Read(buffer.data(), count, received);
    const double ms = MsSince(start);
    if (!ok) return {false, {}, ms};
    return {true, std::string(buffer.data(), std::min(received, count)), ms};
  }

  Pty pty_;
  std::unique_ptr<Line> line_;
  PosixLine* posix_ = nullptr;
};

TEST_F(PosixLineTest, RefusesASecondOpenerUntilClosed) {
  EXPECT_EQ(OpenPlatformLine(pty_.slave_name()), nullptr);

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) ::_exit(OpenPlatformLine(pty_.slave_name()) == nullptr ? 0 : 1);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "another process opened the port too";

  EXPECT_TRUE(line_->Close());
  line_.reset();
  EXPECT_NE(OpenPlatformLine(pty_.slave_name()), nullptr);
}

// Raw mode: no byte is translated, swallowed or taken as a control character in either direction.
TEST_F(PosixLineTest, PassesEveryByteValueUnchangedBothWays) {
  const std::string all = EveryByteValue();
  ASSERT_TRUE(pty_.Send(all));
  std::string got;
  for (int i = 0; i < 20 && got.size() < all.size(); ++i) {
    AwaitPending();
    const TimedRead r = Read(static_cast<uint32_t>(all.size() - got.size()));
    ASSERT_TRUE(r.ok);
    got += r.data;
  }
  EXPECT_EQ(got, all);

  uint32_t written = 0;
  ASSERT_TRUE(line_->Write(all.data(), static_cast<uint32_t>(all.size()), written));
  EXPECT_EQ(written, all.size());
  EXPECT_EQ(pty_.Receive(all.size()), all);
}

TEST_F(PosixLineTest, WriteHandsTheDriverAllOfABlockLargerThanItsBuffers) {
  std::string block(256 * 1024, '\0');
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>('a' + i % 23);
  std::string got;
  std::thread reader([&] { got = pty_.Receive(block.size(), 2000); });
  uint32_t written = 0;
  const bool ok = line_->Write(block.data(), static_cast<uint32_t>(block.size()), written);
  reader.join();
  EXPECT_TRUE(ok);
  EXPECT_EQ(written, block.size());
  EXPECT_EQ(got.size(), block.size());
  EXPECT_TRUE(got == block);
}

TEST_F(PosixLineTest, WriteGivesUpWithAShortCountWhenTheDriverTakesNoMore) {
  // Nobody reads the master: the pty's buffers fill and then take nothing.
  const std::vector<char> block(1 << 20, 'x');
  uint32_t written = 0;
  const auto start = Clock::now();
  EXPECT_TRUE(line_->Write(block.data(), static_cast<uint32_t>(block.size()), written));
  EXPECT_LT(MsSince(start), 3000.0);
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, block.size());
}

TEST_F(PosixLineTest, NormalReadOfASilentLineEndsEmptyAfterTenMs) {
  const TimedRead r = Read(16);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.data, "");
  EXPECT_GE(r.ms, 9.5);
  EXPECT_LT(r.ms, 60.0);
}

TEST_F(PosixLineTest, NormalReadOfMoreThanCameReturnsWhatCame) {
  ASSERT_TRUE(pty_.Send("ABCDE"));
  AwaitPending();
  const TimedRead r = Read(100);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.data, "ABCDE");
  EXPECT_LT(r.ms, 60.0);
}

// The total time-out bounds the whole read, as on Windows: bytes arriving every 2 ms do not keep
// it going.
TEST_F(PosixLineTest, BytesTricklingInDoNotStretchANormalRead) {
  std::atomic<bool> stop{false};
  std::thread sender([&] {
    for (int i = 0; i < 100 && !stop; ++i) {
      if (!pty_.Send("t")) return;
      std::this_thread::sleep_for(2ms);
    }
  });
  AwaitPending();
  const TimedRead r = Read(1000);
  stop = true;
  sender.join();
  EXPECT_TRUE(r.ok);
  EXPECT_FALSE(r.data.empty());
  EXPECT_LT(r.ms, 60.0);
}

// Bytes that one driver read brings in behind the terminator are the next read's; a purge drops
// them with the rest.
TEST_F(PosixLineTest, ReadToTerminatorLeavesWhatCameBehindTheTerminatorQueued) {
  ASSERT_TRUE(pty_.Send("ZORLINE\rV0102\r0"));
  AwaitPending();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // all of it, not only the first byte
  EXPECT_EQ(Read(64, true).data, "ZORLINE\r");
  EXPECT_EQ(Read(64, true).data, "V0102\r");
  EXPECT_EQ(Read(64).data, "0");

  ASSERT_TRUE(pty_.Send("Z\rstale"));
  AwaitPending();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(Read(64, true).data, "Z\r");
  ASSERT_TRUE(line_->Purge());
  ASSERT_TRUE(line_->SetTimeouts(Timeouts::Poll));
  EXPECT_EQ(Read(64).data, "");
}

TEST_F(PosixLineTest, ReadReturnsAtOnceWhenNothingMoreIsToBeWaitedFor) {
  struct Case {
    Timeouts set;
    std::string pending;
    uint32_t ask;
    bool to_terminator = false;
  };
  const Case cases[] = {
      {Timeouts::Normal, "12345678", 8},           // every asked byte is there
      {Timeouts::Normal, "ZORLINE\r", 100, true},  // the terminator is in
      {Timeouts::Poll, "1234", 8},                 // the poll set takes what has come
      {Timeouts::Poll, "", 8},                     // even nothing
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pending + (c.set == Timeouts::Poll ? " poll" : " normal"));
    ASSERT_TRUE(line_->SetTimeouts(c.set));
    double fastest = 1e9;
    for (int attempt = 0; attempt < 3; ++attempt) {  // the best of three rides out a busy machine
      if (!c.pending.empty()) {
        ASSERT_TRUE(pty_.Send(c.pending));
        AwaitPending();
      }
      const TimedRead r = Read(c.ask, c.to_terminator);
      EXPECT_TRUE(r.ok);
      EXPECT_EQ(r.data, c.pending);
      fastest = std::min(fastest, r.ms);
    }
    EXPECT_LT(fastest, 5.0);
  }
}

TEST_F(PosixLineTest, PurgeDiscardsInputNotYetRead) {
  ASSERT_TRUE(pty_.Send("stale"));
  AwaitPending();
  ASSERT_TRUE(line_->Purge());
  EXPECT_EQ(Read(16).data, "");
  ASSERT_TRUE(pty_.Send("fresh"));
  AwaitPending();
  EXPECT_EQ(Read(16).data, "fresh");
}

TEST_F(PosixLineTest, ModemLinesAndErrorCountersAreAbsentOnAPty) {
  for (Escape e : {Escape::SetRts, Escape::ClrRts, Escape::SetDtr, Escape::ClrDtr})
    EXPECT_FALSE(line_->EscapeFunction(e)) << static_cast<int>(e);
  uint32_t status = 0;
  EXPECT_FALSE(line_->ModemStatus(status));
  EXPECT_EQ(line_->ClearErrors(), 0u);
}

TEST_F(PosixLineTest, WaitEventReportsTransmitEmptyAfterAWrite) {
  uint32_t written = 0;
  ASSERT_TRUE(line_->Write("0123456789", 10, written));
  uint32_t mask = EV_TXEMPTY;
  EXPECT_TRUE(line_->WaitEvent(mask));
  EXPECT_EQ(mask, EV_TXEMPTY);
  uint32_t unsupported = 0x0001;  // a received character: no such wait exists here
  EXPECT_FALSE(line_->WaitEvent(unsupported));
}

TEST_F(PosixLineTest, EveryTransferFailsOnceTheOtherSideHasGone) {
  pty_.CloseMaster();
  for (Timeouts set : {Timeouts::Normal, Timeouts::Poll}) {
    ASSERT_TRUE(line_->SetTimeouts(set));
    const TimedRead r = Read(8);
    EXPECT_FALSE(r.ok) << "a vanished device must not read as a silent one";
    EXPECT_LT(r.ms, 60.0);
  }
  uint32_t written = 0;
  EXPECT_FALSE(line_->Write("x", 1, written));
  uint32_t mask = EV_TXEMPTY;
  EXPECT_FALSE(line_->WaitEvent(mask));
  EXPECT_FALSE(line_->Purge());
  EXPECT_TRUE(line_->Close());
  EXPECT_EQ(posix_->Descriptor(), -1);
}

// A caller that repeats reads while the line is silent learns of the hang-up from the next read.
TEST_F(PosixLineTest, RepeatedReadsFailSoonAfterTheOtherSideGoes) {
  std::thread closer([&] {
    std::this_thread::sleep_for(20ms);
    pty_.CloseMaster();
  });
  const auto start = Clock::now();
  bool failed = false;
  while (!failed && MsSince(start) < 1000.0) {
    const TimedRead r = Read(8);
    failed = !r.ok;
    if (!failed) {
      EXPECT_EQ(r.data, "");
    }
  }
  closer.join();
  EXPECT_TRUE(failed);
  EXPECT_LT(MsSince(start), 200.0);
}

// COMPort over a pty, a device without even parity and without modem lines.
TEST(PosixComPort, APtyFailsAtTheLineSettingsAndIsStillReleasedByClose) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  COMPort port;
  EXPECT_FALSE(port.Open(pty.slave_name()));
  EXPECT_EQ(port.PortError, 4);
  ASSERT_NE(port.Handle, nullptr);
  EXPECT_FALSE(port.Open(pty.slave_name()));
  EXPECT_EQ(port.PortError, 2) << "the device stays open until Close";
  EXPECT_EQ(OpenPlatformLine(pty.slave_name()), nullptr);

  // The open line still carries data: a reply is read up to its carriage return.
  ASSERT_TRUE(port.Write("H\r", 2));
  EXPECT_EQ(pty.Receive(2), "H\r");
  ASSERT_TRUE(pty.Send("H1234\r"));
  char reply[32];
  uint32_t count = 17;
  EXPECT_TRUE(port.Read(reply, count, true, true));
  EXPECT_EQ(std::string(reply, count), "H1234\r");

  EXPECT_FALSE(port.Control(true, true));
  EXPECT_EQ(port.PortError, 10);
  bool cts = false, dsr = false, ring = false, dcd = false;
  EXPECT_FALSE(port.Status(cts, dsr, ring, dcd));
  EXPECT_EQ(port.PortError, 11);

  EXPECT_FALSE(port.Close()) << "DTR and RTS cannot be dropped on a pty";
  EXPECT_EQ(port.PortError, 10);
  EXPECT_EQ(port.Handle, nullptr);
  EXPECT_NE(OpenPlatformLine(pty.slave_name()), nullptr);
}

}  // namespace
}  // namespace zor
