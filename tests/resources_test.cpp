// Ports are held exclusively and given back whole: a second opener of an open port, in the same
// process on another slot or in another process, is refused; opening and closing a port again and
// again leaves no descriptor and no memory behind. Once over a pseudo-terminal, which opens and is
// then refused at the line settings, so every cycle takes and releases the device; once over the
// network port of zor-sim, where every opening also runs the purge handshake.
#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <string>

#include "COM-ZOR4.h"
#include "slots.h"
#include "support/simulator.h"

// Under AddressSanitizer the heap is the sanitizer's, which counts it itself.
#if defined(__SANITIZE_ADDRESS__)
#define ZOR_SANITIZER_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZOR_SANITIZER_HEAP 1
#endif
#endif
#if defined(ZOR_SANITIZER_HEAP)
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace zor::test {
namespace {

// A pseudo-terminal pair; the slave's name is the port.
class Pty {
public:
  Pty() : master_(::posix_openpt(O_RDWR | O_NOCTTY)) {
    if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0) name_ = ::ptsname(master_);
  }
  ~Pty() {
    if (master_ >= 0) ::close(master_);
  }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;
  const char* name() const { return name_.c_str(); }

private:
  int master_;
  std::string name_;
};

size_t OpenDescriptors() {
  size_t count = 0;
  if (DIR* fds = ::opendir("/proc/self/fd")) {
    while (::readdir(fds) != nullptr) ++count;
    ::closedir(fds);
  }
  return count;
}

// Bytes held by the program's allocations.
size_t AllocatedBytes() {
#if defined(ZOR_SANITIZER_HEAP)
  return __sanitizer_get_current_allocated_bytes();
#else
  return mallinfo2().uordblks;
#endif
}

class ResourcesTest : public ::testing::Test {
protected:
  void SetUp() override {
    LoadSlots();
    ASSERT_FALSE(std::string(pty_.name()).empty());
  }
  void TearDown() override { UnloadSlots(); }

  // Opens the pty on a slot: -2 either way; the port error tells whether the device was taken (4,
  // its settings refused) or refused to this opener (2).
  int32_t OpenPty(uint16_t slot) {
    EXPECT_EQ(COM_ZOR4_OpenByName(slot, pty_.name()), -2);
    return COM_ZOR4_IO_State(slot);
  }

  Pty pty_;
};

TEST_F(ResourcesTest, ASecondOpenerIsRefusedOnAnotherSlotAndInAnotherProcess) {
  ASSERT_EQ(OpenPty(0), 4) << "the device is taken";
  EXPECT_EQ(OpenPty(1), 2) << "another slot";
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) ::_exit(COM_ZOR4_OpenByName(2, pty_.name()) == -2 && COM_ZOR4_IO_State(2) == 2 ? 0 : 1);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "another process took the port too";

  (void)COM_ZOR4_Close(0);
  EXPECT_EQ(OpenPty(1), 4) << "free again once closed";
  (void)COM_ZOR4_Close(1);
}

TEST_F(ResourcesTest, TenThousandOpeningsAndClosingsLeaveNothingBehind) {
  // The first cycle sets up what lives on (the stream buffers, the opener).
  ASSERT_EQ(OpenPty(0), 4);
  (void)COM_ZOR4_Close(0);
  const size_t descriptors = OpenDescriptors(), bytes = AllocatedBytes();
  // Each opening takes the device afresh, so each closing has released it.
  for (int cycle = 0; cycle < 10000; ++cycle) {
    if (COM_ZOR4_OpenByName(0, pty_.name()) != -2 || COM_ZOR4_IO_State(0) != 4) FAIL() << "cycle " << cycle;
    (void)COM_ZOR4_Close(0);
  }
  std::printf("10000 cycles: %zu open descriptors before, %zu after; %zu bytes allocated before, %zu after\n",
              descriptors, OpenDescriptors(), bytes, AllocatedBytes());
  EXPECT_EQ(OpenDescriptors(), descriptors);
  // Not a byte per cycle may stay.
  EXPECT_LT(AllocatedBytes(), bytes + 10000) << "from " << bytes;
  EXPECT_EQ(OpenPty(1), 4) << "the port is free";
  (void)COM_ZOR4_Close(1);
}

// The network port is held by one client at a time: another slot of this process and another
// process are refused while it is open, within the bound of the negotiation, and take it once it
// is closed.
TEST_F(ResourcesTest, ASecondClientOfTheNetworkPortIsRefused) {
  Simulator sim({});
  ASSERT_EQ(COM_ZOR4_OpenByName(0, sim.url().c_str()), 0);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(COM_ZOR4_OpenByName(4, sim.url().c_str()), -2) << "another slot";
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
  // A port that failed after its device was opened stays open until it is closed.
  (void)COM_ZOR4_Close(4);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) ::_exit(COM_ZOR4_OpenByName(5, sim.url().c_str()) == -2 ? 0 : 1);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "another process took the port too";
  uint16_t version = 0;
  EXPECT_EQ(COM_ZOR4_FW_Ver(0, &version), 0) << "the open port keeps working";
  EXPECT_EQ(COM_ZOR4_Close(0), 0);
  EXPECT_EQ(COM_ZOR4_OpenByName(4, sim.url().c_str()), 0) << "free once closed";
  EXPECT_EQ(COM_ZOR4_FW_Ver(4, &version), 0);
}

// Every opening makes a connection and runs the purge handshake; every closing gives it all back.
TEST_F(ResourcesTest, OpeningsAndClosingsOfTheNetworkPortLeaveNothingBehind) {
  Simulator sim({});
  ASSERT_EQ(COM_ZOR4_OpenByName(0, sim.url().c_str()), 0);
  ASSERT_EQ(COM_ZOR4_Close(0), 0);
  const size_t descriptors = OpenDescriptors(), bytes = AllocatedBytes();
  constexpr int kCycles = 1000;
  for (int cycle = 0; cycle < kCycles; ++cycle) {
    if (COM_ZOR4_OpenByName(0, sim.url().c_str()) != 0) FAIL() << "cycle " << cycle;
    if (COM_ZOR4_Close(0) != 0) FAIL() << "cycle " << cycle;
  }
  std::printf("%d cycles: %zu open descriptors before, %zu after; %zu bytes allocated before, %zu after\n",
              kCycles, descriptors, OpenDescriptors(), bytes, AllocatedBytes());
  EXPECT_EQ(OpenDescriptors(), descriptors);
  EXPECT_LT(AllocatedBytes(), bytes + kCycles) << "from " << bytes;
}

}  // namespace
}  // namespace zor::test
