// Opening, purging and closing a slot's connection, and the device's buffer commands.
#include <gtest/gtest.h>

#include "COM-ZOR4.h"
#include "framing.h"
#include "slots.h"
#include "support/fake_line.h"
#include "support/test_env.h"

namespace zor::test {
namespace {

constexpr uint16_t kPort = 7;
using Log = std::vector<std::string>;

class ConnectionTest : public SlotTest {
protected:
  void SetUp() override {
    SlotTest::SetUp();
    FollowRts(*device);
    OpenDebug(kPort);
  }
  void OpenClean() {
    ASSERT_EQ(COM_ZOR4_Open(kPort, 1), 0);
    device->log.clear();
    device->written.clear();
    ResetVirtualTime();
  }
  std::string LastEntry() {
    const std::string entries = DebugEntries();
    const size_t at = entries.rfind("\n<time>\n");
    return at == std::string::npos ? entries : entries.substr(at + 8);
  }
};

TEST_F(ConnectionTest, OpenOpensThePortAndRunsThePurgeHandshake) {
  FindSlot(kPort)->LastStatus = -101;
  EXPECT_EQ(COM_ZOR4_Open(kPort, 3), 0);
  EXPECT_EQ(device->opened_names, std::vector<std::string>{PlatformPortName(3)});
  EXPECT_EQ(device->log, (Log{"timeouts normal", "purge", "RTS on", "DTR on",  // port open
                              "RTS off", "DTR on", "purge", "RTS on", "DTR on"}));
  EXPECT_EQ(COM_ZOR4_State(kPort), -101);  // success is not stored
  EXPECT_EQ(DebugEntries(), "");
  EXPECT_EQ(COM_ZOR4_Close(kPort), 0);
  EXPECT_EQ(COM_ZOR4_State(kPort), 0);
}

TEST_F(ConnectionTest, OpenFailures) {
  device->failing.insert(Op::Open);
  EXPECT_EQ(COM_ZOR4_Open(kPort, 3), -2);
  EXPECT_EQ(COM_ZOR4_State(kPort), -2);
  EXPECT_EQ(LastEntry(), "PortNumber: 7, COM_ZOR4_Open: Error opening the port as COM3\n");
  device->failing.clear();
  OpenDebug(kPort);
  EXPECT_EQ(COM_ZOR4_Open(kPort, 0), -2);
  EXPECT_EQ(LastEntry(), "PortNumber: 7, COM_ZOR4_Open: Error opening the port as COM0\n");
}

TEST_F(ConnectionTest, OpenOnAnOpenSlotFailsAndTheOpenPortKeepsWorking) {
  OpenClean();
  EXPECT_EQ(COM_ZOR4_Open(kPort, 4), -2);
  EXPECT_EQ(DebugEntries(),
            "\n<time>\nCOMPort::Open: The port is already open\n"
            "\n<time>\nPortNumber: 7, COM_ZOR4_Open: Error opening the port as COM4\n");
  AnswerCommands(*device, {"ZY\r"});
  int32_t empty = 0;
  EXPECT_EQ(COM_ZOR4_Buffer_State(kPort, &empty), 0);
  EXPECT_EQ(empty, 1);
}

TEST_F(ConnectionTest, HalfOpenedPortIsReleasedByClose) {
  device->failing.insert(Op::SetState);
  EXPECT_EQ(COM_ZOR4_Open(kPort, 2), -2);
  EXPECT_EQ(COM_ZOR4_IO_State(kPort), 4);
  device->failing.clear();
  EXPECT_EQ(COM_ZOR4_Open(kPort, 2), -2);
  EXPECT_EQ(COM_ZOR4_Close(kPort), 0);
  EXPECT_EQ(COM_ZOR4_Open(kPort, 2), 0);
}

TEST_F(ConnectionTest, OpenByNameOpensTheNamedPort) {
  EXPECT_EQ(COM_ZOR4_OpenByName(kPort, "/dev/ttyUSB0"), 0);
  EXPECT_EQ(device->opened_names, std::vector<std::string>{"/dev/ttyUSB0"});
  EXPECT_EQ(COM_ZOR4_Close(kPort), 0);
  device->failing.insert(Op::Open);
  EXPECT_EQ(COM_ZOR4_OpenByName(kPort, "rfc2217://127.0.0.1:1"), -2);
  EXPECT_EQ(LastEntry(), "PortNumber: 7, COM_ZOR4_Open: Error opening the port as rfc2217://127.0.0.1:1\n");
}

TEST_F(ConnectionTest, OpenByNameRefusesAMissingName) {
  for (const char* name : {static_cast<const char*>(nullptr), ""}) {
    FindSlot(kPort)->LastStatus = 0;
    EXPECT_EQ(COM_ZOR4_OpenByName(kPort, name), -15);
    EXPECT_EQ(COM_ZOR4_State(kPort), -15);
  }
  EXPECT_TRUE(device->opened_names.empty());
  EXPECT_EQ(COM_ZOR4_OpenByName(8, "/dev/ttyS0"), -200);
}

TEST_F(ConnectionTest, PurgeOnAClosedPortFailsAtTheControlLines) {
  EXPECT_EQ(COM_ZOR4_Purge(kPort), -5);
  EXPECT_EQ(COM_ZOR4_State(kPort), -5);
  EXPECT_EQ(LastEntry(), "PortNumber: 7, COM_ZOR4_Open: Error setting the port status lines\n");
}

TEST_F(ConnectionTest, PurgeEmptiesWaitingBytes) {
  OpenClean();
  device->Reply("stale bytes");
  FindSlot(kPort)->Port->ReceiveCount = 4;
  EXPECT_EQ(COM_ZOR4_Purge(kPort), 0);
  EXPECT_EQ(device->Pending(), "");
  EXPECT_EQ(FindSlot(kPort)->Port->ReceiveCount, 0u);
  EXPECT_EQ(device->log, (Log{"RTS off", "DTR on", "purge", "RTS on", "DTR on"}));
}

TEST_F(ConnectionTest, DeviceThatKeepsCtsActiveFailsWithMinus102AndGetsRtsBack) {
  OpenClean();
  device->modem_fn = nullptr;
  device->modem = MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON;
  EXPECT_EQ(COM_ZOR4_Purge(kPort), -102);
  EXPECT_EQ(COM_ZOR4_State(kPort), -102);
  EXPECT_EQ(VirtualTime(), 1000u);
  EXPECT_TRUE(device->rts);
  EXPECT_EQ(LastEntry(),
            "PortNumber: 7, COM_ZOR4_Purge: Device state could not be set to not ready\n");
}

TEST_F(ConnectionTest, DsrDroppingWhileWaitingForCtsFailsAtOnce) {
  OpenClean();
  unsigned polls = 0;
  device->modem_fn = [&polls](FakeDevice&) {
    return ++polls < 5 ? MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON : MS_CTS_ON | MS_RLSD_ON;
  };
  EXPECT_EQ(COM_ZOR4_Purge(kPort), -100);
  EXPECT_EQ(polls, 5u);
  EXPECT_FALSE(device->rts);  // left inactive: the device is gone
  EXPECT_EQ(LastEntry(), "PortNumber: 7, COM_ZOR4_Open: Device not connected - DSR=N, DCD=Y\n");
}

TEST_F(ConnectionTest, AbsentDeviceFailsAfterTheConnectionWait) {
  OpenClean();
  device->modem_fn = nullptr;
  device->modem = 0;
  EXPECT_EQ(COM_ZOR4_Purge(kPort), -100);
  EXPECT_EQ(VirtualTime(), 1000u);
  EXPECT_EQ(LastEntry(), "PortNumber: 7, COM_ZOR4_Open: Device not connected - DSR=N, DCD=N\n");
}

TEST_F(ConnectionTest, PurgeStepFailures) {
  OpenClean();
  device->failing.insert(Op::Purge);
  EXPECT_EQ(COM_ZOR4_Purge(kPort), -4);
  EXPECT_TRUE(device->rts);
  EXPECT_EQ(DebugEntries(), "\n<time>\nCOMPort::Purge: Cannot purge the port\n"
                            "\n<time>\nPortNumber: 7, COM_ZOR4_Purge: Error purging the port\n");
  device->failing = {Op::ModemStatus};
  OpenDebug(kPort);
  EXPECT_EQ(COM_ZOR4_Purge(kPort), -6);
  EXPECT_EQ(LastEntry(), "PortNumber: 7, COM_ZOR4_Open: Error reading the port status lines\n");
  device->failing.clear();
  device->failing_escapes = {Escape::SetRts};
  OpenDebug(kPort);
  EXPECT_EQ(COM_ZOR4_Purge(kPort), -5);
  EXPECT_EQ(LastEntry(), "PortNumber: 7, COM_ZOR4_Purge: Error setting the port control lines\n");
}

TEST_F(ConnectionTest, PurgeEndsWithTheInterfaceCheck) {
  OpenClean();
  // The device pauses when asked but does not become ready again.
  device->modem_fn = [](FakeDevice&) { return MS_DSR_ON | MS_RLSD_ON; };
  FindSlot(kPort)->LastStatus = -7;
  EXPECT_EQ(COM_ZOR4_Purge(kPort), -101);
  EXPECT_EQ(COM_ZOR4_State(kPort), -101);
  EXPECT_EQ(LastEntry(), "PortNumber: 7, CheckIfc: device not ready - CTS=false\n");
  FollowRts(*device);
  EXPECT_EQ(COM_ZOR4_Purge(kPort), 0);
  EXPECT_EQ(COM_ZOR4_State(kPort), -101);
}

TEST_F(ConnectionTest, CloseTwice) {
  OpenClean();
  EXPECT_EQ(COM_ZOR4_Close(kPort), 0);
  EXPECT_FALSE(device->rts || device->dtr);
  EXPECT_EQ(COM_ZOR4_Close(kPort), -3);
  EXPECT_EQ(COM_ZOR4_State(kPort), -3);
  EXPECT_EQ(COM_ZOR4_IO_State(kPort), 1);
  // The debug file stays open after a close.
  EXPECT_NE(FindSlot(kPort)->Port->DebugFile, nullptr);
}

struct YesNoCase {
  const char* reply;
  int32_t code;
  int32_t value;  // the out-argument afterwards (starts at 7)
};

TEST_F(ConnectionTest, BufferCommandsSendTheirLetterAndReadYesOrNo) {
  OpenClean();
  const YesNoCase buffer_state[] = {
      {"ZY\r", 0, 1}, {"ZN\r", 0, 0}, {"zY\r", -13, 7}, {"Zy\r", -14, 7}, {"Z\r", -11, 7},
      {"ZYY\r", -12, 7},
  };
  for (const YesNoCase& c : buffer_state) {
    FollowRts(*device);
    ASSERT_EQ(COM_ZOR4_Purge(kPort), 0);
    device->written.clear();
    AnswerCommands(*device, {c.reply});
    int32_t empty = 7;
    EXPECT_EQ(COM_ZOR4_Buffer_State(kPort, &empty), c.code) << c.reply;
    EXPECT_EQ(empty, c.value) << c.reply;
    EXPECT_EQ(COM_ZOR4_State(kPort), c.code) << c.reply;
    EXPECT_EQ(device->written, "Z\r");
  }
  ASSERT_EQ(COM_ZOR4_Purge(kPort), 0);  // the surplus byte of the last reply
  device->written.clear();
  AnswerCommands(*device, {"zY\r", "zy\r"});
  int32_t purged = 7;
  EXPECT_EQ(COM_ZOR4_Device_Purge(kPort, &purged), 0);
  EXPECT_EQ(purged, 1);
  purged = 7;
  EXPECT_EQ(COM_ZOR4_Device_Purge(kPort, &purged), -14);
  EXPECT_EQ(purged, 7);
  EXPECT_EQ(device->written, "z\rz\r");
  EXPECT_EQ(LastEntry(), "PortNumber: 7, ReadCommand-bool: Wrong argument received: command='z', "
                         "Data read: 'y\\x00'\n");
}

TEST_F(ConnectionTest, BufferCommandsOnAClosedPortOrWithoutTarget) {
  int32_t value = 7;
  EXPECT_EQ(COM_ZOR4_Buffer_State(kPort, &value), -6);
  EXPECT_EQ(COM_ZOR4_Device_Purge(kPort, nullptr), -15);
  EXPECT_EQ(COM_ZOR4_Buffer_State(9, &value), -200);
  EXPECT_EQ(value, 7);
}

TEST_F(ConnectionTest, SlotWithoutPortAnswersMinus300Everywhere) {
  UnloadSlots();
  LoadSlots([](uint16_t) -> COMPort* { return nullptr; });
  int32_t value = 0;
  EXPECT_EQ(COM_ZOR4_Open(kPort, 1), -300);
  EXPECT_EQ(COM_ZOR4_OpenByName(kPort, "/dev/ttyS0"), -300);
  EXPECT_EQ(COM_ZOR4_Close(kPort), -300);
  EXPECT_EQ(COM_ZOR4_Purge(kPort), -300);
  EXPECT_EQ(COM_ZOR4_Device_Purge(kPort, &value), -300);
  EXPECT_EQ(COM_ZOR4_Buffer_State(kPort, &value), -300);
  EXPECT_EQ(COM_ZOR4_State(kPort), -300);
  EXPECT_TRUE(device->opened_names.empty());
}

}  // namespace
}  // namespace zor::test
