// A Windows program on COM-ZOR4.dll (through its import library) and the network serial line on
// Winsock: an exchange with the simulated device, started by run_with_sim.py on this machine's
// loopback with the URL in ZOR_SIM_URL, and a connection that is refused.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <string>

#include "COM-ZOR4.h"

namespace {

constexpr uint16_t kPort = 4;

std::string SimUrl() {
  const char* url = std::getenv("ZOR_SIM_URL");
  return url != nullptr ? url : "";
}

// Started by run_with_sim.py as: zor-sim --channels 2 --firmware-version 0A1B
TEST(WinsockLine, ExchangeWithTheSimulatedDevice) {
  const std::string url = SimUrl();
  ASSERT_FALSE(url.empty()) << "ZOR_SIM_URL is not set";
  ASSERT_EQ(COM_ZOR4_OpenByName(kPort, url.c_str()), 0) << COM_ZOR4_ErrorMessage(kPort);
  EXPECT_EQ(COM_ZOR4_IO_State(kPort), 0);

  uint16_t version = 0;
  EXPECT_EQ(COM_ZOR4_FW_Ver(kPort, &version), 0);
  EXPECT_EQ(version, 0x0A1B);
  uint8_t channels = 0;
  double vmin = 0, vmax = 0, precision = 0, shutdown = 0;
  int32_t sensor = 7;
  EXPECT_EQ(COM_ZOR4_GetHardwareCapability(kPort, &channels, &vmin, &vmax, &precision, &sensor,
                                           &shutdown), 0);
  EXPECT_EQ(channels, 2);
  EXPECT_EQ(sensor, 0);

  double voltage = -42.06;
  EXPECT_EQ(COM_ZOR4_Set_OutputVoltage(kPort, 1, &voltage), 0);
  EXPECT_NEAR(voltage, -42.1, 1e-9);
  double read_back = 0;
  EXPECT_EQ(COM_ZOR4_Get_OutputVoltage(kPort, 1, &read_back), 0);
  EXPECT_NEAR(read_back, -42.1, 1e-9);
  EXPECT_EQ(COM_ZOR4_Get_OutputVoltage(kPort, 2, &read_back), -50);

  // The longest reply: the whole screen in one exchange.
  std::array<uint8_t, 1024> display{};
  EXPECT_EQ(COM_ZOR4_ReadDisplay(kPort, display.data()), 0);
  EXPECT_NE(std::count(display.begin(), display.end(), 0), 1024) << "the screen shows something";

  EXPECT_EQ(COM_ZOR4_Close(kPort), 0);
  EXPECT_EQ(COM_ZOR4_IO_State(kPort), 0);
  // The server takes the next client as it took the first.
  ASSERT_EQ(COM_ZOR4_OpenByName(kPort, url.c_str()), 0);
  EXPECT_EQ(COM_ZOR4_FW_Ver(kPort, &version), 0);
  EXPECT_EQ(COM_ZOR4_Close(kPort), 0);
}

TEST(WinsockLine, ARefusedConnectionFailsTheOpenAtOnce) {
  WSADATA data{};
  ASSERT_EQ(::WSAStartup(MAKEWORD(2, 2), &data), 0);
  // A bound socket that does not listen: its port refuses connections.
  SOCKET holder = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::getsockname(holder, reinterpret_cast<sockaddr*>(&address), &length), 0);
  const std::string url = "rfc2217://127.0.0.1:" + std::to_string(ntohs(address.sin_port));

  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(COM_ZOR4_OpenByName(kPort, url.c_str()), -2);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(COM_ZOR4_IO_State(kPort), 2);
  EXPECT_LT(took, std::chrono::seconds(2)) << "the refusal was not seen, the connect timed out";
  ::closesocket(holder);
  ::WSACleanup();
}

}  // namespace
