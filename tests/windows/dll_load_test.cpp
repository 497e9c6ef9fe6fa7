// COM-ZOR4.dll loaded and unloaded at run time: process attach creates the slots, process detach
// ends the debug file with its closing entry and releases a port that was left open.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class Winsock {
public:
  Winsock() {
    WSADATA data{};
    ok_ = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~Winsock() {
    if (ok_) ::WSACleanup();
  }
  Winsock(const Winsock&) = delete;
  Winsock& operator=(const Winsock&) = delete;
  bool ok() const { return ok_; }

private:
  bool ok_ = false;
};

// A network serial port that refuses the COM port option: the open stops at the line settings
// with the connection still up, the state in which only the unload can release it.
class RefusingServer {
public:
  RefusingServer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (listener_ == INVALID_SOCKET ||
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 1) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      return;
    }
    url_ = "rfc2217://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    thread_ = std::thread([this] { Serve(); });
  }
  ~RefusingServer() {
    if (thread_.joinable()) thread_.join();
    if (client_ != INVALID_SOCKET) ::closesocket(client_);
    if (listener_ != INVALID_SOCKET) ::closesocket(listener_);
  }
  RefusingServer(const RefusingServer&) = delete;
  RefusingServer& operator=(const RefusingServer&) = delete;

  const std::string& url() const { return url_; }

  // Waits for the accepting thread; true when a client came and was refused.
  bool Served() {
    if (thread_.joinable()) thread_.join();
    return client_ != INVALID_SOCKET;
  }

  // Reads what the client sends for up to ms; true when it closed the connection meanwhile.
  bool ClosedWithin(int ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    char buffer[512];
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) return false;
      fd_set readable;
      FD_ZERO(&readable);
      FD_SET(client_, &readable);
      const auto wait = static_cast<long>(left.count());
      timeval timeout{wait / 1000, (wait % 1000) * 1000};
      if (::select(0, &readable, nullptr, nullptr, &timeout) != 1) return false;
      const int n = ::recv(client_, buffer, sizeof buffer, 0);
      if (n <= 0) return true;  // an orderly end or a reset: either way the port let go
    }
  }

private:
  void Serve() {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(listener_, &readable);
    timeval timeout{5, 0};
    if (::select(0, &readable, nullptr, nullptr, &timeout) != 1) return;
    client_ = ::accept(listener_, nullptr, nullptr);
    const char refuse[] = {'\xFF', '\xFE', '\x2C'};  // IAC DONT COM-PORT-OPTION
    if (client_ != INVALID_SOCKET) ::send(client_, refuse, sizeof refuse, 0);
  }

  SOCKET listener_ = INVALID_SOCKET;
  SOCKET client_ = INVALID_SOCKET;
  std::string url_;
  std::thread thread_;
};

class Library {
public:
  Library() : module_(::LoadLibraryA("COM-ZOR4.dll")) {}
  ~Library() { Free(); }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  bool Loaded() const { return module_ != nullptr; }
  bool Free() {
    if (module_ == nullptr) return false;
    const bool freed = ::FreeLibrary(module_) != FALSE;
    module_ = nullptr;
    return freed;
  }
  template <typename Function>
  Function Get(const char* name) const {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module_, name)));
  }

private:
  HMODULE module_;
};

using Version = uint16_t (*)();
using WithPort = int32_t (*)(uint16_t);
using WithName = int32_t (*)(uint16_t, const char*);

TEST(DllLoad, UnloadEndsTheDebugFileAndReleasesTheOpenPort) {
  Winsock winsock;
  ASSERT_TRUE(winsock.ok());
  RefusingServer server;
  ASSERT_FALSE(server.url().empty());
  const auto debug = std::filesystem::temp_directory_path() / "zor-dll-load-test.txt";

  Library library;
  ASSERT_TRUE(library.Loaded()) << "LoadLibrary failed with " << ::GetLastError();
  auto version = library.Get<Version>("COM_ZOR4_Version");
  auto io_state = library.Get<WithPort>("COM_ZOR4_IO_State");
  auto open_debug = library.Get<WithName>("COM_ZOR4_OpenDebugFile");
  auto open_by_name = library.Get<WithName>("COM_ZOR4_OpenByName");
  ASSERT_TRUE(version && io_state && open_debug && open_by_name);
  EXPECT_EQ(version(), 266);
  EXPECT_EQ(io_state(2), 1);  // the slots exist from process attach on

  ASSERT_EQ(open_debug(2, debug.string().c_str()), 0);
  EXPECT_EQ(open_by_name(2, server.url().c_str()), -2);
  EXPECT_EQ(io_state(2), 3);  // refused at the line settings, the connection kept
  ASSERT_TRUE(server.Served());
  EXPECT_FALSE(server.ClosedWithin(100)) << "the port was let go before the unload";

  ASSERT_TRUE(library.Free());
  EXPECT_TRUE(server.ClosedWithin(3000)) << "the port is still held after the unload";

  const std::string bytes = ReadBytes(debug);
  std::filesystem::remove(debug);
  // A text file of this platform: every line ends with CR LF.
  EXPECT_EQ(bytes.rfind("Debugging output file for PortNumber=2\r\n", 0), 0u) << bytes;
  EXPECT_NE(bytes.find("COMPort::Open: Cannot get the port state\r\n"), std::string::npos) << bytes;
  const std::string closing = "\r\nFile closed by COM_ZOR4_CloseDebugFile\r\n";
  ASSERT_GT(bytes.size(), closing.size());
  EXPECT_EQ(bytes.substr(bytes.size() - closing.size()), closing);
  for (size_t at = bytes.find('\n'); at != std::string::npos; at = bytes.find('\n', at + 1)) {
    ASSERT_TRUE(at > 0 && bytes[at - 1] == '\r') << "a bare line feed at byte " << at;
  }
}

TEST(DllLoad, EachLoadStartsWithFreshSlots) {
  for (int round = 0; round < 2; ++round) {
    Library library;
    ASSERT_TRUE(library.Loaded());
    auto state = library.Get<WithPort>("COM_ZOR4_State");
    auto open_by_name = library.Get<WithName>("COM_ZOR4_OpenByName");
    ASSERT_TRUE(state && open_by_name);
    EXPECT_EQ(state(5), 0) << "round " << round;
    EXPECT_EQ(open_by_name(5, ""), -15);  // stored in the slot until the unload
    EXPECT_EQ(state(5), -15);
    ASSERT_TRUE(library.Free());
  }
}

}  // namespace
