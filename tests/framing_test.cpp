// The command framing: interface check, sending, receiving, typed readers, the reports.
#include <gtest/gtest.h>

#include <chrono>

#include "COM-ZOR4.h"
#include "framing.h"
#include "sleep.h"
#include "support/fake_line.h"
#include "support/test_env.h"

namespace zor::test {
namespace {

constexpr uint16_t kPort = 7;

class FramingTest : public SlotTest {
protected:
  void SetUp() override {
    SlotTest::SetUp();
    FollowRts(*device);
    ASSERT_EQ(COM_ZOR4_Open(kPort, 1), 0);
    device->modem_fn = nullptr;
    device->written.clear();
    device->log.clear();
    device->calls.clear();
    OpenDebug(kPort);
    ResetVirtualTime();
  }
  int32_t LastStatus() { return COM_ZOR4_State(kPort); }
};

TEST_F(FramingTest, CheckIfcPassesAtOnceWhenConnectedAndReady) {
  EXPECT_EQ(CheckIfc(kPort), 0);
  EXPECT_EQ(VirtualTime(), 0u);
  EXPECT_EQ(DebugEntries(), "");
}

TEST_F(FramingTest, CheckIfcWaitsForTheConnectionThenForReadiness) {
  unsigned polls = 0;
  device->modem_fn = [&polls](FakeDevice&) {
    ++polls;
    if (polls < 300) return 0u;
    if (polls < 500) return MS_DSR_ON | MS_RLSD_ON;
    return MS_DSR_ON | MS_RLSD_ON | MS_CTS_ON;
  };
  EXPECT_EQ(CheckIfc(kPort), 0);
  EXPECT_EQ(polls, 500u);
  EXPECT_EQ(VirtualTime(), 498u);
}

struct IfcFailure {
  const char* name;
  std::function<uint32_t(unsigned poll)> modem;  // nullptr: the status read fails
  int32_t code;
  unsigned max_ms;
  const char* line;
};

void PrintTo(const IfcFailure& f, std::ostream* os) { *os << f.name; }

class CheckIfcFailureTest : public FramingTest, public ::testing::WithParamInterface<IfcFailure> {};

TEST_P(CheckIfcFailureTest, ReportsAndStores) {
  const IfcFailure& f = GetParam();
  if (f.modem) {
    auto polls = std::make_shared<unsigned>(0);
    device->modem_fn = [polls, f](FakeDevice&) { return f.modem(++*polls); };
  } else {
    device->failing.insert(Op::ModemStatus);
  }
  EXPECT_EQ(CheckIfc(kPort), f.code);
  EXPECT_EQ(LastStatus(), f.code);
  EXPECT_LE(VirtualTime(), f.max_ms);
  const std::string entries = DebugEntries();
  const std::string last = std::string("\n<time>\n") + f.line;
  ASSERT_GE(entries.size(), last.size());
  EXPECT_EQ(entries.substr(entries.size() - last.size()), last);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CheckIfcFailureTest,
    ::testing::Values(
        IfcFailure{"StatusUnreadable", nullptr, -6, 0, "PortNumber: 7, CheckIfc: Error getting status\n"},
        IfcFailure{"DsrInactive", [](unsigned) { return MS_RLSD_ON | MS_CTS_ON; }, -100, 1000,
                   "PortNumber: 7, CheckIfc: device not connected - DSR=N, DCD=Y\n"},
        IfcFailure{"DcdInactive", [](unsigned) { return MS_DSR_ON; }, -100, 1000,
                   "PortNumber: 7, CheckIfc: device not connected - DSR=Y, DCD=N\n"},
        IfcFailure{"CtsInactive", [](unsigned) { return MS_DSR_ON | MS_RLSD_ON; }, -101, 1000,
                   "PortNumber: 7, CheckIfc: device not ready - CTS=false\n"},
        IfcFailure{"DsrDropsWhileWaitingForCts",
                   [](unsigned poll) { return poll < 10 ? MS_DSR_ON | MS_RLSD_ON : MS_RLSD_ON; },
                   -100, 9, "PortNumber: 7, CheckIfc: device not connected - DSR=N, DCD=Y\n"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(FramingTest, CommandsGoOutAsLetterDataAndTerminator) {
  EXPECT_EQ(WriteCommand(kPort, 'V'), 0);
  EXPECT_EQ(WriteCommand(kPort, 'o', "22710"), 0);
  EXPECT_EQ(WriteCommandLong(kPort, 'B', 10, 2), 0);
  EXPECT_EQ(WriteCommandLong(kPort, 'B', 4, 1), 0);
  EXPECT_EQ(device->written, "V\ro22710\rB0A\rB4\r");
}

TEST_F(FramingTest, WriteCommandLongRefusesAValueTooWideBeforeAnythingIsSent) {
  device->failing.insert(Op::ModemStatus);  // would fail the interface check if it ran
  EXPECT_EQ(WriteCommandLong(kPort, 'B', 16, 1), -15);
  EXPECT_EQ(LastStatus(), -15);
  EXPECT_EQ(device->written, "");
  EXPECT_EQ(DebugEntries(),
            "\n<time>\nPortNumber: 7, WriteCommand-long: Wrong argument passed to the function: "
            "long=16, digits=1 => '10'\n");
}

struct SendFailure {
  const char* data;  // nullptr: letter only
  unsigned failing_write;
  int32_t code;
  const char* line;
};

void PrintTo(const SendFailure& f, std::ostream* os) { *os << "write " << f.failing_write << " fails"; }

class SendFailureTest : public FramingTest, public ::testing::WithParamInterface<SendFailure> {};

TEST_P(SendFailureTest, ReportsTheStepThatFailed) {
  const SendFailure& f = GetParam();
  device->fail_at[Op::Write] = f.failing_write;
  const int32_t code = f.data != nullptr ? WriteCommand(kPort, 'o', f.data) : WriteCommand(kPort, 'o');
  EXPECT_EQ(code, f.code);
  EXPECT_EQ(LastStatus(), f.code);
  const std::string entries = DebugEntries();
  const std::string last = std::string("\n<time>\n") + f.line;
  ASSERT_GE(entries.size(), last.size());
  EXPECT_EQ(entries.substr(entries.size() - last.size()), last);
  // The port's own line comes first.
  EXPECT_NE(entries.find("COMPort::Write-"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, SendFailureTest,
    ::testing::Values(
        SendFailure{nullptr, 1, -7, "PortNumber: 7, WriteCommand: Error sending command 'o'\n"},
        SendFailure{nullptr, 2, -9,
                    "PortNumber: 7, WriteCommand: Error sending the termination character 'o'\n"},
        SendFailure{"3FF9C", 1, -7, "PortNumber: 7, WriteCommand: Error sending command 'o3FF9C'\n"},
        SendFailure{"3FF9C", 2, -8, "PortNumber: 7, WriteCommand: Error sending data 'o3FF9C'\n"},
        SendFailure{"3FF9C", 3, -9,
                    "PortNumber: 7, WriteCommand: Error sending the termination character "
                    "'o3FF9C'\n"}));

struct ReadCase {
  const char* name;
  std::string reply;
  int32_t length;
  int32_t code;
  std::string entries;     // after the header, time stamps normalised
  std::string left_over;   // bytes still in the port's queue
};

void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }

class ReadCommandTest : public FramingTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(ReadCommandTest, ChecksEchoLengthAndTerminator) {
  const ReadCase& c = GetParam();
  device->Reply(c.reply);
  EXPECT_EQ(ReadCommand(kPort, 'V', c.length), c.code);
  EXPECT_EQ(LastStatus(), c.code);
  EXPECT_EQ(DebugEntries(), c.entries);
  EXPECT_EQ(device->Pending(), c.left_over);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ReadCommandTest,
    ::testing::Values(
        ReadCase{"Good", "V0102\r", 4, 0, "", ""},
        ReadCase{"EchoAndTerminatorOnly", "V\r", 4, -11,
                 "\n<time>\nPortNumber: 7, ReadCommand: Error receiving data: '5' byte(s) expected, "
                 "'1' byte(s) read\nData read: '\\x0D'\n",
                 ""},
        ReadCase{"WrongEcho", "W0102\r", 4, -13,
                 "\n<time>\nPortNumber: 7, ReadCommand: Wrong command received: 'W' instead of "
                 "'V'\nData read: '0102\\x0D'\n",
                 ""},
        ReadCase{"SurplusCharacter", "V01020\r", 4, -12,
                 "\n<time>\nPortNumber: 7, ReadCommand: Error receiving the termination character "
                 "of the command 'V'\nData read: '01020'\n",
                 "\r"},
        ReadCase{"AnyLength", "VZORLINE HV-4\r", 0, 0, "", ""},
        ReadCase{"AnyLengthEmptyText", "V\r", -1, 0, "", ""}),
    [](const auto& p) { return std::string(p.param.name); });

// A read that stops at the terminator ends when it is in: a reply of unknown length no longer
// waits out the 10 ms read time-out, and bytes that come after it stay queued.
struct TimedReply {
  const char* name;
  std::vector<std::string> bursts;
  int32_t length;
  int32_t code;
  const char* text;      // ReplyBuffer
  uint64_t waited_ms;    // read time-outs waited out and repeat sleeps
  const char* left_over;
};

void PrintTo(const TimedReply& c, std::ostream* os) { *os << c.name; }

class ReplyTimingTest : public FramingTest, public ::testing::WithParamInterface<TimedReply> {};

TEST_P(ReplyTimingTest, EndsAtTheTerminatorWithoutWaitingOutTheTimeOut) {
  const TimedReply& c = GetParam();
  for (const std::string& burst : c.bursts) device->Reply(burst);
  EXPECT_EQ(ReadCommand(kPort, 'P', c.length), c.code);
  EXPECT_STREQ(ReplyBuffer, c.text);
  EXPECT_EQ(VirtualTime(), c.waited_ms);
  EXPECT_EQ(device->Pending(), c.left_over);
  const bool repeated = DebugEntries().find("repeating the operation") != std::string::npos;
  EXPECT_EQ(repeated, c.waited_ms > 0);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ReplyTimingTest,
    ::testing::Values(
        TimedReply{"AnyLength", {"PZORLINE HV-4\r", "P"}, 0, 0, "ZORLINE HV-4", 0, "P"},
        TimedReply{"AnyLengthEmpty", {"P\r", "P"}, 0, 0, "", 0, "P"},
        // The first burst lacks the terminator: that read waits out its 10 ms, then comes the
        // repeat after its 5 ms sleep.
        TimedReply{"AnyLengthInTwoBursts", {"PZOR", "LINE\r", "P"}, 0, 0, "ZORLINE", 15, "P"},
        TimedReply{"FixedLength", {"P0102\r", "P"}, 4, 0, "0102", 0, "P"},
        TimedReply{"FixedLengthCutShort", {"P\r", "P"}, 4, -11, "\r", 0, "P"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(FramingTest, SuccessfulReplyIsANulEndedText) {
  device->Reply("V0102\r");
  ASSERT_EQ(ReadCommand(kPort, 'V', 4), 0);
  EXPECT_STREQ(ReplyBuffer, "0102");
  EXPECT_EQ(ReplyLength, 5u);
}

TEST_F(FramingTest, SurplusByteFailsTheNextReplyUntilPurged) {
  device->Reply("V01020\r");
  EXPECT_EQ(ReadCommand(kPort, 'V', 4), -12);
  device->Reply("V0102\r");
  EXPECT_EQ(ReadCommand(kPort, 'V', 4), -13);
  FollowRts(*device);
  EXPECT_EQ(COM_ZOR4_Purge(kPort), 0);
  device->Reply("V0102\r");
  EXPECT_EQ(ReadCommand(kPort, 'V', 4), 0);
}

TEST_F(FramingTest, EchoWithNothingBehindItLacksTheTerminator) {
  device->Reply("P");
  EXPECT_EQ(ReadCommand(kPort, 'P', 0), -12);
  EXPECT_EQ(ReplyLength, 0u);
}

TEST_F(FramingTest, LongReplyIsGatheredOverSeveralReads) {
  const std::string text(3000, 'x');
  device->Reply("P" + text.substr(0, 1000));
  device->Reply(text.substr(1000, 1500));
  device->Reply(text.substr(2500) + "\r");
  ASSERT_EQ(ReadCommand(kPort, 'P', 0), 0);
  EXPECT_EQ(std::string(ReplyBuffer), text);
}

TEST_F(FramingTest, SilentDeviceGivesNoEchoAndNoDump) {
  EXPECT_EQ(ReadCommand(kPort, 'V', 4), -10);
  const std::string entries = DebugEntries();
  EXPECT_NE(entries.find("repeating the operation #100,"), std::string::npos);
  const std::string tail = "\n<time>\nCOMPort::Read-char: Could not read the character from the port\n"
                           "\n<time>\nPortNumber: 7, ReadCommand: Error receiving command 'V'\n";
  EXPECT_EQ(entries.substr(entries.size() - tail.size()), tail);
  EXPECT_EQ(entries.find("Data read"), std::string::npos);
}

TEST_F(FramingTest, UnreadableDataIsReportedWithTheEchoReceived) {
  device->Reply("W");
  device->fail_at[Op::Read] = 2;
  EXPECT_EQ(ReadCommand(kPort, 'V', 4), -11);
  const std::string entries = DebugEntries();
  EXPECT_NE(entries.find("PortNumber: 7, ReadCommand: Error receiving data of the command 'W'\n"
                         "Data read: ''\n"),
            std::string::npos)
      << entries;
}

TEST_F(FramingTest, BusyDeviceGivesNoEcho) {
  device->modem = MS_DSR_ON | MS_RLSD_ON;
  device->Reply("V0102\r");
  EXPECT_EQ(ReadCommand(kPort, 'V', 4), -10);
  EXPECT_EQ(COM_ZOR4_IO_State(kPort), 12);
}

TEST_F(FramingTest, DataLengthAboveTheBufferIsRefusedBeforeSending) {
  EXPECT_EQ(Exchange(kPort, 'P', nullptr, 8192), -15);
  EXPECT_EQ(device->written, "");
  EXPECT_EQ(Exchange(kPort, 'P', nullptr, 8191), -10);
  EXPECT_EQ(device->written, "P\r");
}

TEST_F(FramingTest, ReadCommandBoolTakesUpperCaseYAndNOnly) {
  int32_t value = 5;
  device->Reply("zY\r");
  EXPECT_EQ(ReadCommandBool(kPort, 'z', value), 0);
  EXPECT_EQ(value, 1);
  device->Reply("zN\r");
  EXPECT_EQ(ReadCommandBool(kPort, 'z', value), 0);
  EXPECT_EQ(value, 0);
  value = 5;
  device->Reply("zy\r");
  EXPECT_EQ(ReadCommandBool(kPort, 'z', value), -14);
  EXPECT_EQ(value, 5);
  EXPECT_EQ(LastStatus(), -14);
  EXPECT_EQ(DebugEntries(),
            "\n<time>\nPortNumber: 7, ReadCommand-bool: Wrong argument received: command='z', "
            "Data read: 'y\\x00'\n");
}

TEST_F(FramingTest, ReadCommandIntReportsAReplyThatDoesNotConvert) {
  uint32_t value = 0;
  device->Reply("V12G4\r");
  EXPECT_EQ(ReadCommandInt(kPort, 'V', 4, value), 0);
  EXPECT_EQ(value, 0x12u);
  device->Reply("Vxyz0\r");
  EXPECT_EQ(ReadCommandInt(kPort, 'V', 4, value), -14);
  EXPECT_EQ(DebugEntries(),
            "\n<time>\nPortNumber: 7, ReadCommand-int: Wrong argument received: command='V', "
            "Data read: 'xyz0\\x00'\n");
}

TEST(ScanHexTest, FollowsTheScanfHexRules) {
  const struct {
    const char* text;
    bool ok;
    uint32_t value;
  } cases[] = {
      {"0102", true, 0x0102},   {"abCD", true, 0xABCD},     {"  \t1f", true, 0x1F},
      {"12G", true, 0x12},      {"+7", true, 7},            {"-1", true, 0xFFFFFFFF},
      {"0x1A", true, 0x1A},     {"0X1a", true, 0x1A},       {"0xG", true, 0},
      {"FFFFFFFF", true, 0xFFFFFFFF}, {"", false, 0},       {"G1", false, 0},
      {"-", false, 0},          {" +x", false, 0},          {"\r", false, 0},
  };
  for (const auto& c : cases) {
    uint32_t value = 12345;
    EXPECT_EQ(ScanHex(c.text, value), c.ok) << c.text;
    if (c.ok) EXPECT_EQ(value, c.value) << c.text;
    else EXPECT_EQ(value, 12345u) << c.text;
  }
}

TEST(HexFieldTest, ConvertsAFieldOnItsOwn) {
  uint32_t value = 0;
  ASSERT_TRUE(HexField("58BE7FFD2394", 1, 4, value));
  EXPECT_EQ(value, 0x8BE7u);
  ASSERT_TRUE(HexField("12 4", 0, 4, value));
  EXPECT_EQ(value, 0x12u);
  EXPECT_FALSE(HexField("12XY", 2, 2, value));
}

TEST(ConvertHexDigitTest, TakesUpperCaseDigitsOnly) {
  const std::string good = "0123456789ABCDEF";
  for (size_t i = 0; i < good.size(); ++i) {
    uint8_t value = 99;
    EXPECT_TRUE(ConvertHexDigit(good[i], value));
    EXPECT_EQ(value, i);
  }
  for (char c : std::string("abcdefGg x\r\0", 12)) {
    uint8_t value = 99;
    EXPECT_FALSE(ConvertHexDigit(c, value)) << c;
  }
}

// The real waits, once each: a device that never gets ready, and one that never answers.
class RealTimeTest : public FramingTest {
protected:
  void SetUp() override {
    FramingTest::SetUp();
    SetSleepHook(nullptr);
    device->real_time = true;
  }
  template <class F>
  double Seconds(F f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
};

TEST_F(RealTimeTest, CheckIfcGivesUpAfterAboutOneSecond) {
  device->modem = MS_DSR_ON | MS_RLSD_ON;
  const double s = Seconds([&] { EXPECT_EQ(CheckIfc(kPort), -101); });
  EXPECT_GE(s, 0.99);
  EXPECT_LT(s, 3.0);
}

TEST_F(RealTimeTest, SilentDeviceGivesUpAfterAboutOneAndAHalfSeconds) {
  const double s = Seconds([&] { EXPECT_EQ(ReadCommand(kPort, 'V', 4), -10); });
  EXPECT_GE(s, 1.5);
  EXPECT_LT(s, 4.0);
}

}  // namespace
}  // namespace zor::test
