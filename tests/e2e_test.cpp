// The library against the simulated device over a real loopback connection: every device
// function, the purge handshake, and the faults the device can be made to show.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>
#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "COM-ZOR4.h"
#include "slots.h"
#include "support/simulator.h"
#include "support/test_env.h"

namespace zor::test {
namespace {

using Clock = std::chrono::steady_clock;
constexpr uint16_t kPort = 3;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

class EndToEndTest : public ::testing::Test {
protected:
  void SetUp() override { LoadSlots(); }
  void TearDown() override { UnloadSlots(); }
  void Connect(Simulator& sim) {
    ASSERT_FALSE(sim.url().empty()) << "zor-sim did not start";
    ASSERT_EQ(COM_ZOR4_OpenByName(kPort, sim.url().c_str()), 0) << COM_ZOR4_ErrorMessage(kPort);
  }
  int32_t Version(uint16_t& version) { return COM_ZOR4_FW_Ver(kPort, &version); }
};

TEST_F(EndToEndTest, EveryDeviceFunctionAnswers) {
  Simulator sim({"--channels", "3", "--current-sensor", "--firmware-version", "0203"});
  Connect(sim);
  uint8_t channels = 0;
  double vmin = 0, vmax = 0, precision = 0, shutdown = 0;
  int32_t sensor = 0;
  ASSERT_EQ(COM_ZOR4_GetHardwareCapability(kPort, &channels, &vmin, &vmax, &precision, &sensor,
                                           &shutdown), 0);
  EXPECT_EQ(channels, 3);
  EXPECT_DOUBLE_EQ(vmin, -3000.0);
  EXPECT_DOUBLE_EQ(vmax, 3000.0);
  EXPECT_NEAR(precision, 0.1, 1e-9);
  EXPECT_EQ(sensor, 1);

  uint16_t version = 0;
  EXPECT_EQ(Version(version), 0);
  EXPECT_EQ(version, 0x0203);
  char date[12] = {};
  EXPECT_EQ(COM_ZOR4_FW_Date(kPort, date), 0);
  EXPECT_EQ(std::strlen(date), 11u);
  char id[8192] = {};
  EXPECT_EQ(COM_ZOR4_Prod_ID(kPort, id), 0);
  EXPECT_NE(std::string(id).find("ZORLINE"), std::string::npos);
  int32_t number = 0;
  EXPECT_EQ(COM_ZOR4_Prod_No(kPort, &number), 0);
  uint32_t seconds = 99;
  uint16_t ms = 9999;
  EXPECT_EQ(COM_ZOR4_GetUptime(kPort, &seconds, &ms), 0);
  EXPECT_LT(seconds, 60u);
  EXPECT_LT(ms, 1000);

  double supply = 0, v5 = 0, v3 = 0, cpu = 0, pos = 0, neg = 0, heatsink = 0, current = 1;
  EXPECT_EQ(COM_ZOR4_Get_HousekeepingData(kPort, &supply, &v5, &v3, &cpu), 0);
  EXPECT_NEAR(supply, 24.0, 0.01);
  EXPECT_NEAR(v5, 5.0, 0.01);
  EXPECT_EQ(COM_ZOR4_Get_HVSupplyData(kPort, &pos, &neg, &heatsink), 0);
  EXPECT_GT(pos, 0);
  int32_t interlock = 0;
  EXPECT_EQ(COM_ZOR4_Get_InterlockState(kPort, &interlock), 0);
  EXPECT_EQ(interlock, 1);
  EXPECT_EQ(COM_ZOR4_Get_CurrentMonitor(kPort, &current), 0);

  double set = 123.44;
  EXPECT_EQ(COM_ZOR4_Set_OutputVoltage(kPort, 1, &set), 0);
  EXPECT_NEAR(set, 123.4, 1e-9);
  int32_t on = 1;
  EXPECT_EQ(COM_ZOR4_Set_OutputState(kPort, 1, &on), 0);
  EXPECT_EQ(on, 1);
  double read_back = 0;
  EXPECT_EQ(COM_ZOR4_Get_OutputVoltage(kPort, 1, &read_back), 0);
  EXPECT_NEAR(read_back, 123.4, 1e-9);
  int32_t state = 0;
  EXPECT_EQ(COM_ZOR4_Get_OutputState(kPort, 1, &state), 0);
  EXPECT_EQ(state, 1);
  double measured = 0;
  EXPECT_EQ(COM_ZOR4_Get_OutputMonitor(kPort, 1, &measured), 0);
  EXPECT_EQ(COM_ZOR4_Get_OutputMonitor(kPort, 3, &measured), -50);  // the device has 3 channels
  EXPECT_EQ(COM_ZOR4_Get_OutputState(kPort, 4, &state), -50);

  EXPECT_EQ(COM_ZOR4_SimulateKeypad(kPort, 0x10), 0);
  EXPECT_EQ(COM_ZOR4_SimulateEncoder(kPort, 0x0A), 0);
  EXPECT_EQ(COM_ZOR4_SimulateEncoderButton(kPort), 0);
  std::array<uint8_t, 1024> display{};
  EXPECT_EQ(COM_ZOR4_ReadDisplay(kPort, display.data()), 0);
  std::array<uint8_t, 128> row{};
  EXPECT_EQ(COM_ZOR4_ReadDisplayRow(kPort, 0, row.data()), 0);
  EXPECT_TRUE(std::equal(row.begin(), row.end(), display.begin()));
  EXPECT_NE(std::count(display.begin(), display.end(), 0), 1024) << "the screen shows something";

  int32_t flag = 0;
  EXPECT_EQ(COM_ZOR4_Buffer_State(kPort, &flag), 0);
  EXPECT_EQ(COM_ZOR4_Device_Purge(kPort, &flag), 0);
  EXPECT_EQ(flag, 1);
  EXPECT_EQ(COM_ZOR4_Purge(kPort), 0);
  EXPECT_EQ(COM_ZOR4_State(kPort), 0);
  EXPECT_EQ(COM_ZOR4_Close(kPort), 0);
  // Reopening works like the first opening.
  EXPECT_EQ(COM_ZOR4_OpenByName(kPort, sim.url().c_str()), 0);
  EXPECT_EQ(Version(version), 0);
}

TEST_F(EndToEndTest, MissingSensorAndOpenInterlock) {
  Simulator sim({"--channels", "1", "--interlock", "open"});
  Connect(sim);
  double current = 7;
  EXPECT_EQ(COM_ZOR4_Get_CurrentMonitor(kPort, &current), -51);
  EXPECT_EQ(current, 7);
  int32_t interlock = 1;
  EXPECT_EQ(COM_ZOR4_Get_InterlockState(kPort, &interlock), 0);
  EXPECT_EQ(interlock, 0);
  EXPECT_EQ(sim.Control("interlock closed"), "ok");
  EXPECT_EQ(COM_ZOR4_Get_InterlockState(kPort, &interlock), 0);
  EXPECT_EQ(interlock, 1);
}

// The fault matrix: every fault the device can show, met by each class of command (a reply of
// fixed length, one of any length up to its terminator, the whole display). Each cell checks the
// status code, the time the call takes, the debug lines, and that after a purge (or a reopening,
// once the connection is gone) the next command of the class succeeds; the matrix is printed.
class FaultMatrixTest : public EndToEndTest {
protected:
  // Outlasts the 1000 polls of the interface check even on a loaded machine, where 1 ms sleeps run
  // long.
  static constexpr auto kHold = std::chrono::milliseconds(3000);

  struct Command {
    const char* name;
    char letter;
    int32_t (*call)(std::string& value);  // the value read, as text
    std::string data;                     // the reply data of the device, read before any fault
  };

  struct Expected {
    int32_t code;
    std::vector<std::string> lines;  // whole lines of the debug file, in this order
    std::string value;               // for a call that succeeds with what the fault left
  };

  struct Row {
    const char* fault;
    Expected cells[3];  // fixed length, any length, display
  };

  static int32_t ReadVersion(std::string& value) {
    uint16_t version = 0;
    const int32_t code = COM_ZOR4_FW_Ver(kPort, &version);
    value = Hex({static_cast<uint8_t>(version >> 8), static_cast<uint8_t>(version)});
    return code;
  }
  static int32_t ReadIdentification(std::string& value) {
    std::vector<char> id(8192);
    const int32_t code = COM_ZOR4_Prod_ID(kPort, id.data());
    value = id.data();
    return code;
  }
  static int32_t ReadWholeDisplay(std::string& value) {
    std::vector<uint8_t> display(1024);
    const int32_t code = COM_ZOR4_ReadDisplay(kPort, display.data());
    value = Hex(display);
    return code;
  }
  static std::string Hex(const std::vector<uint8_t>& bytes) {
    std::string text;
    char digits[3];
    for (uint8_t byte : bytes) {
      std::snprintf(digits, sizeof digits, "%02X", byte);
      text += digits;
    }
    return text;
  }

  // The device's substitute for a data byte with the garbage fault: a letter from G on.
  static char Garbled(char c) { return static_cast<char>('G' + static_cast<unsigned char>(c) % 20); }

  // The placeholders of the table for one command: {L} its letter, {l} the letter in the other
  // case, {data} its reply data, {data-1} without the last byte, {garbage} garbled, {g0} its first
  // garbled character, {n} the bytes asked for after the echo, {len} the data's length.
  static std::string Expand(std::string text, const Command& command) {
    std::string garbage = command.data;
    for (char& c : garbage) c = Garbled(c);
    const std::pair<const char*, std::string> keys[] = {
        {"{L}", std::string(1, command.letter)},
        {"{l}", std::string(1, static_cast<char>(command.letter ^ 0x20))},
        {"{data-1}", command.data.substr(0, command.data.size() - 1)},
        {"{data}", command.data},
        {"{garbage}", garbage},
        {"{g0}", garbage.substr(0, 1)},
        {"{n}", std::to_string(command.data.size() + 1)},
        {"{len}", std::to_string(command.data.size())},
    };
    for (const auto& [key, value] : keys) {
      for (size_t at; (at = text.find(key)) != std::string::npos;) text.replace(at, std::strlen(key), value);
    }
    return text;
  }

  struct Outcome {
    int32_t code = 1;
    double seconds = 0;
    bool ok = false;
  };

  // Meets the fault with the command; the call that meets it is timed.
  Outcome Meet(Simulator& sim, const std::string& fault, const Command& command, std::string& value) {
    EXPECT_EQ(sim.Control("fault " + fault + " 1 " + command.letter), "ok");
    const bool line_fault = fault == "hold-cts" || fault == "drop-dsr";
    Clock::time_point replied;
    if (line_fault) {
      EXPECT_EQ(command.call(value), 0) << "the reply itself is whole";
      replied = Clock::now();
      // The lines change once the reply is out; a host that asks again at once may come first.
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    Outcome outcome;
    const auto start = Clock::now();
    outcome.code = command.call(value);
    outcome.seconds = SecondsSince(start);
    if (line_fault) std::this_thread::sleep_until(replied + kHold + std::chrono::milliseconds(100));
    return outcome;
  }

  // After the fault: a purge, or a new connection once the old one is gone; then the command again.
  void Recover(Simulator& sim, const std::string& fault, const Command& command) {
    if (fault == "disconnect") {
      (void)COM_ZOR4_Close(kPort);
      EXPECT_EQ(COM_ZOR4_OpenByName(kPort, sim.url().c_str()), 0);
    } else {
      EXPECT_EQ(COM_ZOR4_Purge(kPort), 0);
    }
    std::string value;
    EXPECT_EQ(command.call(value), 0);
    EXPECT_EQ(value, command.data);
  }

  static double MaxSeconds(const std::string& fault) {
    if (fault == "silent" || fault == "no-terminator") return 4.0;  // 100 repeats, about 1.5 s
    if (fault == "hold-cts" || fault == "drop-dsr") return 2.8;     // 1000 polls, about 1 s
    return 1.0;
  }
  static double MinSeconds(const std::string& fault) {
    if (fault == "silent" || fault == "no-terminator") return 1.4;
    if (fault == "hold-cts" || fault == "drop-dsr") return 0.9;
    return 0.0;
  }

  // Each expected line is a whole line of the text, in their order; a call that succeeds writes
  // no line of the command layer.
  static bool HasLines(const std::string& text, const std::vector<std::string>& lines) {
    std::istringstream in(text);
    std::string line;
    size_t next = 0;
    while (next < lines.size() && std::getline(in, line)) {
      if (line == lines[next]) ++next;
    }
    return next == lines.size() && (!lines.empty() || text.find("PortNumber: ") == std::string::npos);
  }

  std::filesystem::path folder_ = std::filesystem::temp_directory_path() /
                                  ("zor-fault-matrix-" + std::to_string(::getpid()));
};

TEST_F(FaultMatrixTest, EveryFaultWithEveryClassOfCommand) {
  Simulator sim({"--fault-hold", std::to_string(kHold.count())});
  Connect(sim);
  std::filesystem::create_directories(folder_);
  Command commands[] = {{"V (fixed)", 'V', ReadVersion, ""},
                        {"P (any length)", 'P', ReadIdentification, ""},
                        {"L (display)", 'L', ReadWholeDisplay, ""}};
  for (Command& command : commands) ASSERT_EQ(command.call(command.data), 0) << command.name;

  const Expected silent{-10, {"COMPort::ReadFile: Could not read the data, repeating the operation #100, data "
                              "read so far: 0, expected: 1",
                              "COMPort::Read-char: Could not read the character from the port",
                              "PortNumber: 3, ReadCommand: Error receiving command '{L}'"}, ""};
  const Expected echo{-13, {"PortNumber: 3, ReadCommand: Wrong command received: '{l}' instead of '{L}'",
                            "Data read: '{data}\\x0D'"}, ""};
  const Expected too_short{-11, {"PortNumber: 3, ReadCommand: Error receiving data: '{n}' byte(s) expected, "
                                 "'{len}' byte(s) read", "Data read: '{data-1}\\x0D'"}, ""};
  const Expected unended{-11, {"COMPort::ReadFile: Could not read the data, repeating the operation #100, data "
                               "read so far: {len}, expected: {n}",
                               "PortNumber: 3, ReadCommand: Error receiving data: '{n}' byte(s) expected, "
                               "'{len}' byte(s) read", "Data read: '{data}'"}, ""};
  const Expected surplus{-12, {"PortNumber: 3, ReadCommand: Error receiving the termination character of the "
                               "command '{L}'", "Data read: '{data}0'"}, ""};
  const Expected parity{0, {"CommError = 00000004: parity"}, ""};
  const Expected not_ready{-101, {"PortNumber: 3, CheckIfc: device not ready - CTS=false"}, ""};
  const Expected not_connected{-100, {"PortNumber: 3, CheckIfc: device not connected - DSR=N, DCD=N"}, ""};
  const Expected no_echo{-10, {"PortNumber: 3, ReadCommand: Error receiving command '{L}'"}, ""};
  const Row rows[] = {
      {"silent", {silent, silent, silent}},
      {"wrong-echo", {echo, echo, echo}},
      // A reply of any length cannot tell that a byte is missing, nor that one is too many.
      {"short", {too_short, {0, {}, "{data-1}"}, too_short}},
      {"no-terminator",
       {unended,
        {-12, {"COMPort::ReadFile: Could not read the data, repeating the operation #100, data read so far: {len}, "
               "expected: 8192",
               "PortNumber: 3, ReadCommand: Error receiving the termination character of the command 'P'",
               "Data read: '{data}'"}, ""},
        unended}},
      {"garbage",
       {{-14, {"PortNumber: 3, ReadCommand-int: Wrong argument received: command='V', Data read: '{garbage}\\x00'"}, ""},
        {0, {}, "{garbage}"},
        {-14, {"PortNumber: 3, COM_ZOR4_ReadDisplay: Wrong argument received: Data read: '{garbage}\\x00'",
               "Cannot convert character '{g0}'"}, ""}}},
      {"surplus", {surplus, {0, {}, "{data}0"}, surplus}},
      {"parity", {parity, parity, parity}},
      {"hold-cts", {not_ready, not_ready, not_ready}},
      {"drop-dsr", {not_connected, not_connected, not_connected}},
      {"disconnect", {no_echo, no_echo, no_echo}},
  };

  std::string table = "fault          ";
  for (const Command& command : commands) table += std::string(command.name) + std::string(20 - std::strlen(command.name), ' ');
  table += "\n";
  for (const Row& row : rows) {
    char cell[64];
    std::snprintf(cell, sizeof cell, "%-15s", row.fault);
    table += cell;
    for (size_t i = 0; i < std::size(commands); ++i) {
      const Command& command = commands[i];
      const Expected& expected = row.cells[i];
      SCOPED_TRACE(std::string(row.fault) + " / " + command.name);
      const std::filesystem::path debug = folder_ / (std::string(row.fault) + "-" + command.letter + ".txt");
      ASSERT_EQ(COM_ZOR4_OpenDebugFile(kPort, debug.string().c_str()), 0);
      std::string value;
      Outcome outcome = Meet(sim, row.fault, command, value);
      Recover(sim, row.fault, command);
      EXPECT_EQ(COM_ZOR4_CloseDebugFile(kPort), 0);
      std::vector<std::string> lines;
      for (const std::string& line : expected.lines) lines.push_back(Expand(line, command));
      const std::string text = NormaliseStamps(ReadWholeFile(debug));
      const bool value_ok = expected.code != 0 || expected.value.empty() || value == Expand(expected.value, command);
      outcome.ok = outcome.code == expected.code && outcome.seconds >= MinSeconds(row.fault) &&
                   outcome.seconds <= MaxSeconds(row.fault) && HasLines(text, lines) && value_ok;
      EXPECT_EQ(outcome.code, expected.code);
      EXPECT_GE(outcome.seconds, MinSeconds(row.fault));
      EXPECT_LE(outcome.seconds, MaxSeconds(row.fault));
      EXPECT_TRUE(HasLines(text, lines)) << text;
      EXPECT_TRUE(value_ok) << value;
      std::snprintf(cell, sizeof cell, "%5d %5.2f s %-6s", outcome.code, outcome.seconds, outcome.ok ? "ok" : "WRONG");
      table += cell;
    }
    table += "\n";
  }
  std::printf("%s", table.c_str());
  std::filesystem::remove_all(folder_);
}

TEST_F(EndToEndTest, DroppedConnectionFailsFastAndTheSlotCanReopen) {
  Simulator sim({});
  Connect(sim);
  ASSERT_EQ(sim.Control("disconnect"), "ok");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  uint16_t version = 0;
  const auto start = Clock::now();
  const int32_t code = Version(version);
  EXPECT_TRUE(code == -6 || code == -100 || code == -7 || code == -10) << code;
  EXPECT_LT(SecondsSince(start), 2.5);
  (void)COM_ZOR4_Close(kPort);
  EXPECT_EQ(COM_ZOR4_OpenByName(kPort, sim.url().c_str()), 0);
  EXPECT_EQ(Version(version), 0);
}

}  // namespace
}  // namespace zor::test
