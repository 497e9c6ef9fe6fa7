// The COMPort logic over the scripted line: results, PortError values, diagnostic lines.
#include <gtest/gtest.h>

#include <cstring>

#include "COMPort.h"
#include "support/fake_line.h"
#include "support/test_env.h"

namespace zor::test {
namespace {

class COMPortTest : public SlotTest {
protected:
  void SetUp() override {
    SlotTest::SetUp();
    debug_ = std::fopen((scratch / "port.txt").string().c_str(), "w+");
    ASSERT_NE(debug_, nullptr);
    port.DebugFile = debug_;
  }
  void TearDown() override {
    port.DebugFile = nullptr;
    if (debug_ != nullptr) std::fclose(debug_);
    SlotTest::TearDown();
  }
  // Everything the port wrote into its debug file so far, time stamps normalised; then cleared.
  std::string Lines() {
    std::fflush(debug_);
    std::string text = NormaliseStamps(ReadWholeFile(scratch / "port.txt"));
    std::fclose(debug_);
    debug_ = std::fopen((scratch / "port.txt").string().c_str(), "w+");
    port.DebugFile = debug_;
    return text;
  }
  void OpenPort() {
    ASSERT_TRUE(port.Open(uint8_t{3}));
    (void)Lines();
    device->log.clear();
  }

  COMPort port;

private:
  FILE* debug_ = nullptr;
};

TEST_F(COMPortTest, NewPortIsClosedWithPortErrorOne) {
  COMPort fresh;
  EXPECT_EQ(fresh.Handle, nullptr);
  EXPECT_EQ(fresh.PortError, 1);
  EXPECT_EQ(fresh.ReceiveCount, 0u);
  EXPECT_EQ(fresh.DebugFile, nullptr);
  EXPECT_STREQ(fresh.ErrorMessage(), "Port has not been opened yet");
}

TEST_F(COMPortTest, OpenAppliesSettingsPurgesAndRaisesRtsThenDtr) {
  ASSERT_TRUE(port.Open(uint8_t{3}));
  EXPECT_EQ(port.PortError, 0);
  ASSERT_EQ(device->opened_names.size(), 1u);
  EXPECT_EQ(device->opened_names[0], PlatformPortName(3));
  EXPECT_EQ(device->log, (std::vector<std::string>{"timeouts normal", "purge", "RTS on", "DTR on"}));
  EXPECT_EQ(Lines(), "");
}

TEST_F(COMPortTest, OpenOnOpenPortFailsAndKeepsThePortWorking) {
  OpenPort();
  EXPECT_FALSE(port.Open(uint8_t{4}));
  EXPECT_EQ(port.PortError, 2);
  EXPECT_EQ(Lines(), "\n<time>\nCOMPort::Open: The port is already open\n");
  EXPECT_EQ(device->opened_names.size(), 1u);
  EXPECT_TRUE(port.Write('x'));
  EXPECT_EQ(device->written, "x");
}

TEST_F(COMPortTest, OpenOfComZeroNamesItInTheLine) {
  EXPECT_FALSE(port.Open(uint8_t{0}));
  EXPECT_EQ(port.PortError, 2);
  EXPECT_EQ(port.Handle, nullptr);
  EXPECT_EQ(Lines(), "\n<time>\nCOMPort::Open: Cannot open the port COM0\n");
}

struct OpenFailure {
  Op op;
  int32_t port_error;
  const char* lines;
  bool stays_open;
};

void PrintTo(const OpenFailure& f, std::ostream* os) { *os << "PortError " << f.port_error; }

class OpenFailureTest : public COMPortTest, public ::testing::WithParamInterface<OpenFailure> {};

TEST_P(OpenFailureTest, EachStepReportsItsErrorAndLine) {
  const OpenFailure& f = GetParam();
  device->failing.insert(f.op);
  EXPECT_FALSE(port.Open("/dev/ttyUSB0"));
  EXPECT_EQ(port.PortError, f.port_error);
  EXPECT_EQ(Lines(), f.lines);
  EXPECT_EQ(port.Handle != nullptr, f.stays_open);
  if (f.stays_open) {
    EXPECT_FALSE(port.Open("/dev/ttyUSB0"));
    EXPECT_EQ(port.PortError, 2);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Steps, OpenFailureTest,
    ::testing::Values(
        OpenFailure{Op::Open, 2, "\n<time>\nCOMPort::Open: Cannot open the port /dev/ttyUSB0\n", false},
        OpenFailure{Op::GetState, 3, "\n<time>\nCOMPort::Open: Cannot get the port state\n", true},
        OpenFailure{Op::SetState, 4, "\n<time>\nCOMPort::Open: Cannot set the port state\n", true},
        OpenFailure{Op::SetTimeouts, 5,
                    "\n<time>\nCOMPort::SetCommTimeout: Cannot set the port timing\n"
                    "\n<time>\nCOMPort::Open: Cannot set the port timing\n",
                    true},
        OpenFailure{Op::Purge, 6,
                    "\n<time>\nCOMPort::Purge: Cannot purge the port\n"
                    "\n<time>\nCOMPort::Open: Cannot purge the port\n",
                    true},
        OpenFailure{Op::Escape, 10,
                    "\n<time>\nCOMPort::Control: Error setting the control lines of the port\n"
                    "\n<time>\nCOMPort::Open: Error setting the control lines of the port\n",
                    true}));

TEST_F(COMPortTest, CloseOfClosedPortFails) {
  EXPECT_FALSE(port.Close());
  EXPECT_EQ(port.PortError, 1);
  EXPECT_EQ(Lines(), "\n<time>\nCOMPort::Close: Port handle is invalid\n");
}

TEST_F(COMPortTest, CloseDropsRtsThenDtrAndReleasesThePort) {
  OpenPort();
  port.ReceiveCount = 3;
  EXPECT_TRUE(port.Close());
  EXPECT_EQ(port.PortError, 0);
  EXPECT_EQ(port.Handle, nullptr);
  EXPECT_EQ(port.ReceiveCount, 3u);
  EXPECT_EQ(device->log, (std::vector<std::string>{"RTS off", "DTR off", "close"}));
  EXPECT_FALSE(device->rts || device->dtr);
}

TEST_F(COMPortTest, CloseReleasesThePortEvenWhenTheLinesCannotBeDropped) {
  OpenPort();
  device->failing.insert(Op::Escape);
  EXPECT_FALSE(port.Close());
  EXPECT_EQ(port.PortError, 10);
  EXPECT_EQ(port.Handle, nullptr);
  EXPECT_FALSE(device->open);
  EXPECT_EQ(Lines(), "\n<time>\nCOMPort::Control: Error setting the control lines of the port\n");
  device->failing.clear();
  EXPECT_TRUE(port.Open(uint8_t{3}));
}

TEST_F(COMPortTest, CloseWhosePlatformCloseFailsStillInvalidatesTheHandle) {
  OpenPort();
  device->failing.insert(Op::Close);
  EXPECT_FALSE(port.Close());
  EXPECT_EQ(port.Handle, nullptr);
  EXPECT_EQ(Lines(), "\n<time>\nCOMPort::Close: Cannot close the port\n");
}

TEST_F(COMPortTest, DestructorClosesAnOpenPort) {
  auto other = std::make_unique<COMPort>();
  ASSERT_TRUE(other->Open(uint8_t{1}));
  device->log.clear();
  other.reset();
  EXPECT_EQ(device->log, (std::vector<std::string>{"RTS off", "DTR off", "close"}));
}

TEST_F(COMPortTest, ReadFileOnSilentLineRepeatsHundredTimesThenGivesUp) {
  OpenPort();
  char data[8];
  uint32_t received = 99;
  ResetVirtualTime();
  EXPECT_TRUE(port.ReadFile(data, 4, received, false));
  EXPECT_EQ(received, 0u);
  EXPECT_EQ(device->calls[Op::Read], 101u);
  EXPECT_EQ(VirtualTime(), 100u * 5 + 101u * 10);  // about 1.5 s on a real line
  std::string expected;
  for (int r = 1; r <= 100; ++r) {
    expected += "\n<time>\nCOMPort::ReadFile: Could not read the data, repeating the operation #" +
                std::to_string(r) + ", data read so far: 0, expected: 4\n";
  }
  EXPECT_EQ(Lines(), expected);

  char c = 0;
  EXPECT_FALSE(port.Read(c, true));
  EXPECT_EQ(port.PortError, 7);
  const std::string lines = Lines();
  const std::string last = "\n<time>\nCOMPort::Read-char: Could not read the character from the port\n";
  ASSERT_GT(lines.size(), last.size());
  EXPECT_EQ(lines.substr(lines.size() - last.size()), last);
}

TEST_F(COMPortTest, ReadFileGathersBurstsAndStopsAtTheTerminator) {
  OpenPort();
  char data[16];
  uint32_t received = 0;
  device->Reply("AB");
  device->Reply("CD");
  EXPECT_TRUE(port.ReadFile(data, 4, received, false));
  EXPECT_EQ(std::string(data, received), "ABCD");
  EXPECT_EQ(Lines(),
            "\n<time>\nCOMPort::ReadFile: Could not read the data, repeating the operation #1, "
            "data read so far: 2, expected: 4\n");

  device->Reply("X\rY");
  device->Reply("Z");
  EXPECT_TRUE(port.ReadFile(data, 10, received, true));
  EXPECT_EQ(std::string(data, received), "X\rY");
  EXPECT_EQ(device->Pending(), "Z");
}

TEST_F(COMPortTest, ReadFileFailureOnlyEndsTheReadWhenNothingArrived) {
  OpenPort();
  char data[8];
  uint32_t received = 0;
  device->fail_at[Op::Read] = 1;
  EXPECT_FALSE(port.ReadFile(data, 2, received, false));
  EXPECT_EQ(port.PortError, 7);
  EXPECT_EQ(Lines(), "\n<time>\nCOMPort::ReadFile: Could not read the port\n");

  port.PortError = 0;
  device->calls.clear();
  device->fail_at[Op::Read] = 2;
  device->Reply("A");
  device->Reply("B");
  EXPECT_TRUE(port.ReadFile(data, 2, received, false));
  EXPECT_EQ(std::string(data, received), "AB");
  EXPECT_EQ(port.PortError, 0);
}

TEST_F(COMPortTest, LineErrorsAfterATransferAreWrittenWithTheirWords) {
  OpenPort();
  device->line_errors = {0x00000012};
  EXPECT_TRUE(port.Write('a'));
  EXPECT_EQ(port.CommErrors, 0x12u);
  EXPECT_EQ(Lines(), "\n<time>\nCommError = 00000012: break overrun\n");
  device->line_errors = {0x0000851F | 0x0100 | 0x0400 | 0x20000};
  EXPECT_TRUE(port.Write('a'));
  EXPECT_EQ(Lines(),
            "\n<time>\nCommError = 0002851F: break framing I/O invalid overrun overflow parity full\n");
}

TEST_F(COMPortTest, ReadCharHandsOutWaitingBytesWithoutPlatformCalls) {
  OpenPort();
  std::memcpy(port.ReceiveBuffer, "xyz", 3);
  port.ReceiveCount = 3;
  device->modem = 0;  // CTS inactive: not looked at
  device->calls.clear();
  char c = 0;
  EXPECT_TRUE(port.Read(c, false));
  EXPECT_EQ(c, 'x');
  EXPECT_EQ(port.ReceiveCount, 2u);
  EXPECT_EQ(std::string(port.ReceiveBuffer, 2), "yz");
  EXPECT_TRUE(device->calls.empty());
}

TEST_F(COMPortTest, ReadCharChecksReadinessFirst) {
  OpenPort();
  device->modem = MS_DSR_ON | MS_RLSD_ON;
  char c = 0;
  EXPECT_FALSE(port.Read(c, false));
  EXPECT_EQ(port.PortError, 12);
  EXPECT_EQ(Lines(),
            "\n<time>\nCOMPort::DeviceReady: Device not ready (CTS inactive)\n"
            "\n<time>\nCOMPort::Read-char: Device not ready\n");
  device->failing.insert(Op::ModemStatus);
  EXPECT_FALSE(port.Read(c, false));
  EXPECT_EQ(port.PortError, 11);
  device->failing.clear();
  device->Reply("Q");
  EXPECT_TRUE(port.Read(c, true));
  EXPECT_EQ(c, 'Q');
}

TEST_F(COMPortTest, ReadArrayOfNothingWritesTheNul) {
  OpenPort();
  char data[4] = {'a', 'b', 'c', 'd'};
  uint32_t count = 0;
  EXPECT_TRUE(port.Read(data, count, true, false));
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(data[0], '\0');
}

TEST_F(COMPortTest, ReadArrayHandsOutWaitingBytesThenReadsTheMissingOnes) {
  OpenPort();
  std::memcpy(port.ReceiveBuffer, "AB", 2);
  port.ReceiveCount = 2;
  device->Reply("CDEF");
  char data[8];
  uint32_t count = 4;
  EXPECT_TRUE(port.Read(data, count, false, false));
  EXPECT_EQ(count, 4u);
  EXPECT_STREQ(data, "ABCD");
  EXPECT_EQ(port.ReceiveCount, 0u);
  EXPECT_EQ(device->Pending(), "EF");
}

TEST_F(COMPortTest, ReadArrayKeepsSurplusForTheNextRead) {
  OpenPort();
  std::memcpy(port.ReceiveBuffer, "ABCDE", 5);
  port.ReceiveCount = 5;
  char data[8];
  uint32_t count = 2;
  EXPECT_TRUE(port.Read(data, count, false, true));
  EXPECT_STREQ(data, "AB");
  EXPECT_EQ(std::string(port.ReceiveBuffer, port.ReceiveCount), "CDE");
  EXPECT_TRUE(device->calls.empty() || device->calls[Op::Read] == 0);
}

TEST_F(COMPortTest, ReadArrayNeverDeliversAByteTwiceWhenTheDeviceTurnsBusy) {
  OpenPort();
  std::memcpy(port.ReceiveBuffer, "AB", 2);
  port.ReceiveCount = 2;
  device->modem = MS_DSR_ON | MS_RLSD_ON;
  device->Reply("CD");
  char data[8];
  uint32_t count = 4;
  EXPECT_TRUE(port.Read(data, count, false, false));
  EXPECT_EQ(count, 2u);
  EXPECT_STREQ(data, "AB");
  EXPECT_EQ(port.ReceiveCount, 0u);
  count = 4;
  EXPECT_FALSE(port.Read(data, count, false, false));
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(port.PortError, 12);
}

TEST_F(COMPortTest, ReadArrayFailures) {
  OpenPort();
  device->modem = 0;
  char data[8];
  uint32_t count = 4;
  EXPECT_FALSE(port.Read(data, count, false, false));
  EXPECT_EQ(Lines(),
            "\n<time>\nCOMPort::DeviceReady: Device not ready (CTS inactive)\n"
            "\n<time>\nCOMPort::Read-array: Device not ready\n");
  device->failing.insert(Op::Read);
  count = 4;
  EXPECT_FALSE(port.Read(data, count, true, false));
  EXPECT_EQ(port.PortError, 7);
  EXPECT_EQ(Lines(),
            "\n<time>\nCOMPort::ReadFile: Could not read the port\n"
            "\n<time>\nCOMPort::Read-array: Could not read the port\n");
}

TEST_F(COMPortTest, ReadArrayLongerThanTheReceiveBufferIsBounded) {
  OpenPort();
  std::string burst(COMPort::ReceiveBufferSize + 100, 'x');
  device->Reply(burst);
  std::vector<char> data(burst.size() + 1);
  auto count = static_cast<uint32_t>(burst.size());
  EXPECT_TRUE(port.Read(data.data(), count, true, false));
  EXPECT_EQ(count, COMPort::ReceiveBufferSize);
  EXPECT_EQ(device->Pending().size(), 100u);
}

TEST_F(COMPortTest, WritesReportFailuresAndShortWrites) {
  OpenPort();
  EXPECT_TRUE(port.Write("abc", 3));
  EXPECT_EQ(device->written, "abc");
  device->short_write = 0;
  EXPECT_FALSE(port.Write('a'));
  EXPECT_EQ(port.PortError, 9);
  device->short_write = 2;
  EXPECT_FALSE(port.Write("abc", 3));
  EXPECT_EQ(port.PortError, 9);
  device->short_write.reset();
  device->failing.insert(Op::Write);
  EXPECT_FALSE(port.Write('a'));
  EXPECT_EQ(port.PortError, 8);
  EXPECT_FALSE(port.Write("abc", 3));
  EXPECT_EQ(port.PortError, 8);
  EXPECT_EQ(Lines(),
            "\n<time>\nCOMPort::Write-char: 0 bytes instead of 1 written to the port\n"
            "\n<time>\nCOMPort::Write-array: 2 bytes instead of 3 written to the port\n"
            "\n<time>\nCOMPort::Write-char: Cannot write the port\n"
            "\n<time>\nCOMPort::Write-array: Cannot write the port\n");
}

TEST_F(COMPortTest, ControlSetsRtsBeforeDtrAndStopsAtTheFirstFailure) {
  OpenPort();
  EXPECT_TRUE(port.Control(true, false));
  EXPECT_EQ(device->log, (std::vector<std::string>{"RTS off", "DTR on"}));
  device->log.clear();
  device->failing_escapes.insert(Escape::SetRts);
  EXPECT_FALSE(port.Control(false, true));
  EXPECT_EQ(port.PortError, 10);
  EXPECT_TRUE(device->log.empty());
  EXPECT_EQ(Lines(), "\n<time>\nCOMPort::Control: Error setting the control lines of the port\n");
}

TEST_F(COMPortTest, StatusMapsTheLinesAndLeavesThemAloneOnFailure) {
  OpenPort();
  bool cts = false, dsr = false, ring = false, dcd = false;
  device->modem = MS_CTS_ON | MS_RING_ON;
  EXPECT_TRUE(port.Status(cts, dsr, ring, dcd));
  EXPECT_TRUE(cts && ring);
  EXPECT_FALSE(dsr || dcd);
  device->failing.insert(Op::ModemStatus);
  EXPECT_FALSE(port.Status(cts, dsr, ring, dcd));
  EXPECT_EQ(port.PortError, 11);
  EXPECT_TRUE(cts && ring);
  EXPECT_FALSE(dsr || dcd);
  EXPECT_EQ(Lines(), "\n<time>\nCOMPort::Status: Error reading the status lines of the port\n");
}

TEST_F(COMPortTest, PurgeEmptiesTheReceiveBufferEvenWhenItFails) {
  OpenPort();
  port.ReceiveCount = 5;
  device->failing.insert(Op::Purge);
  EXPECT_FALSE(port.Purge());
  EXPECT_EQ(port.PortError, 6);
  EXPECT_EQ(port.ReceiveCount, 0u);
  EXPECT_EQ(Lines(), "\n<time>\nCOMPort::Purge: Cannot purge the port\n");
}

TEST_F(COMPortTest, DataAvailablePollsAndKeepsBytesWhenTheDeviceIsBusy) {
  OpenPort();
  port.ReceiveCount = 1;
  device->calls.clear();
  EXPECT_TRUE(port.DataAvailable());
  EXPECT_TRUE(device->calls.empty());

  port.ReceiveCount = 0;
  device->Reply("V0");
  device->Reply("102\r");
  device->modem = MS_DSR_ON | MS_RLSD_ON;
  EXPECT_FALSE(port.DataAvailable());
  EXPECT_EQ(std::string(port.ReceiveBuffer, port.ReceiveCount), "V0102\r");
  EXPECT_EQ(device->log, (std::vector<std::string>{"timeouts poll", "timeouts normal"}));
  device->modem = MS_CTS_ON;
  EXPECT_TRUE(port.DataAvailable());

  port.ReceiveCount = 0;
  EXPECT_FALSE(port.DataAvailable());
  device->failing.insert(Op::Read);
  EXPECT_FALSE(port.DataAvailable());
  EXPECT_EQ(Lines(), "\n<time>\nCOMPort::DeviceReady: Device not ready (CTS inactive)\n"
                     "\n<time>\nCOMPort::DataAvailable: Cannot read the port\n");
}

TEST_F(COMPortTest, WaitWriteBufferEmptyComparesTheReportedEvent) {
  OpenPort();
  EXPECT_TRUE(port.WaitWriteBufferEmpty());
  device->wait_event_mask = 0x0001;
  EXPECT_FALSE(port.WaitWriteBufferEmpty());
  device->failing.insert(Op::WaitEvent);
  EXPECT_FALSE(port.WaitWriteBufferEmpty());
  EXPECT_EQ(port.PortError, 0);
  EXPECT_EQ(Lines(), "\n<time>\nCOMPort::WaitWriteBufferEmpty: Error waiting for port events\n");
}

TEST_F(COMPortTest, TimeoutSetsLeavePortErrorAlone) {
  OpenPort();
  device->failing.insert(Op::SetTimeouts);
  port.PortError = 7;
  EXPECT_FALSE(port.ResetCommTimeout());
  EXPECT_FALSE(port.SetCommTimeout());
  EXPECT_EQ(port.PortError, 7);
  EXPECT_EQ(Lines(), "\n<time>\nCOMPort::ResetCommTimeout: Cannot set the port timing\n"
                     "\n<time>\nCOMPort::SetCommTimeout: Cannot set the port timing\n");
}

TEST_F(COMPortTest, ErrorMessageCoversEveryPortError) {
  const char* expected[] = {
      "No error", "Port has not been opened yet", "Cannot open the port",
      "Cannot get the state of the port", "Cannot set the state of the port",
      "Cannot set the timeouts for the port", "Cannot clear the port",
      "Error reading data from the port", "Error writing data to the port",
      "Wrong data amount written to the port", "Error setting the control lines of the port",
      "Error reading the status lines of the port", "Device is busy"};
  for (int32_t e = 0; e <= 12; ++e) {
    port.PortError = e;
    EXPECT_STREQ(port.ErrorMessage(), expected[e]) << e;
  }
  for (int32_t e : {13, -1, 1000}) {
    port.PortError = e;
    EXPECT_STREQ(port.ErrorMessage(), "Unknown error");
  }
}

}  // namespace
}  // namespace zor::test
