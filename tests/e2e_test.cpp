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
#include <cstring>
#include <thread>
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "COM-ZOR4.h"
#include "slots.h"
#include "support/test_env.h"

namespace zor::test {
namespace {

using Clock = std::chrono::steady_clock;
constexpr uint16_t kPort = 3;

// zor-sim as a child process: its URL from its first line, its control lines on its stdin.
class Simulator {
public:
  explicit Simulator(std::vector<std::string> options) {
    int in[2], out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(in[0], 0);
      ::dup2(out[1], 1);
      ::close(in[1]);
      ::close(out[0]);
      std::vector<std::string> args = {ZOR_SIM_PATH, "--listen", "127.0.0.1:0", "--noise", "0"};
      args.insert(args.end(), options.begin(), options.end());
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    control_ = in[1];
    output_ = out[0];
    const std::string first = ReadLine();
    const size_t at = first.rfind(' ');
    if (at != std::string::npos) url_ = first.substr(at + 1);
  }
  ~Simulator() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
    if (control_ >= 0) ::close(control_);
    if (output_ >= 0) ::close(output_);
  }
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  const std::string& url() const { return url_; }

  // One control command; its answer line.
  std::string Control(const std::string& line) {
    const std::string text = line + "\n";
    if (::write(control_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) return "";
    return ReadLine();
  }

private:
  std::string ReadLine() {
    std::string line;
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    char c = 0;
    while (Clock::now() < deadline) {
      pollfd p{output_, POLLIN, 0};
      if (::poll(&p, 1, 100) != 1) continue;
      if (::read(output_, &c, 1) != 1) break;
      if (c == '\n') return line;
      line += c;
    }
    return line;
  }

  pid_t pid_ = -1;
  int control_ = -1, output_ = -1;
  std::string url_;
};

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

// Each fault the device can show, the code the library gives for it, and recovery by a purge.
TEST_F(EndToEndTest, InjectedFaultsGiveTheirCodesAndAPurgeRecovers) {
  Simulator sim({});
  Connect(sim);
  const std::string debug = (std::filesystem::temp_directory_path() /
                             ("zor-e2e-" + std::to_string(::getpid()) + ".txt")).string();
  ASSERT_EQ(COM_ZOR4_OpenDebugFile(kPort, debug.c_str()), 0);
  const struct {
    const char* fault;
    int32_t code;
    double max_seconds;
  } cases[] = {
      {"wrong-echo", -13, 1.0}, {"short", -11, 4.0},     {"garbage", -14, 1.0},
      {"surplus", -12, 1.0},    {"silent", -10, 4.0},    {"no-terminator", -11, 4.0},
      {"parity", 0, 1.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    ASSERT_EQ(sim.Control(std::string("fault ") + c.fault + " 1 V"), "ok");
    uint16_t version = 0;
    const auto start = Clock::now();
    EXPECT_EQ(Version(version), c.code);
    EXPECT_LT(SecondsSince(start), c.max_seconds);
    EXPECT_EQ(COM_ZOR4_Purge(kPort), 0);
    EXPECT_EQ(Version(version), 0);
    EXPECT_EQ(version, 0x0102);
  }
  EXPECT_EQ(COM_ZOR4_CloseDebugFile(kPort), 0);
  EXPECT_NE(ReadWholeFile(debug).find(" parity\n"), std::string::npos);
  std::filesystem::remove(debug);
}

// The line faults come after the reply; the next command's interface check meets them. The
// hold outlasts the check's 1000 polls even on a loaded machine, where 1 ms sleeps run long.
TEST_F(EndToEndTest, HeldCtsOrDroppedDsrMakeTheInterfaceCheckGiveUp) {
  constexpr auto kHold = std::chrono::milliseconds(3000);
  Simulator sim({"--fault-hold", std::to_string(kHold.count())});
  Connect(sim);
  for (const auto& [fault, code] : {std::pair{"hold-cts", -101}, std::pair{"drop-dsr", -100}}) {
    SCOPED_TRACE(fault);
    ASSERT_EQ(sim.Control(std::string("fault ") + fault + " 1 V"), "ok");
    uint16_t version = 0;
    EXPECT_EQ(Version(version), 0);
    const auto replied = Clock::now();
    // The lines change once the reply is out; a host that asks again at once may come first.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto start = Clock::now();
    EXPECT_EQ(Version(version), code);
    EXPECT_GT(SecondsSince(start), 0.9);
    EXPECT_LT(SecondsSince(start), 2.8);
    std::this_thread::sleep_until(replied + kHold + std::chrono::milliseconds(100));
    EXPECT_EQ(COM_ZOR4_Purge(kPort), 0);
    EXPECT_EQ(Version(version), 0);
  }
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
