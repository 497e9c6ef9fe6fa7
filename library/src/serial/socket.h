// A non-blocking TCP client socket: the few OS calls the network serial line needs, kept apart
// so a Winsock version can stand beside the POSIX one.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zor::net {

class Socket {
public:
  enum class Io { Ok, WouldBlock, Closed, Failed };
  // Bits of Wait's events and result.
  static constexpr int kReadable = 1;
  static constexpr int kWritable = 2;

  Socket() = default;
  ~Socket();
  Socket(Socket&& other) noexcept;
  Socket& operator=(Socket&& other) noexcept;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  // Connects to host (name, IPv4 or IPv6 address) and port, trying every address within timeout_ms;
  // an invalid socket on failure.
  static Socket Connect(const char* host, const char* port, int timeout_ms);

  bool Valid() const { return fd_ >= 0; }
  // Neither call blocks; Closed is the peer's orderly end.
  Io Receive(uint8_t* buffer, size_t capacity, size_t& received);
  Io Send(const uint8_t* data, size_t size, size_t& sent);
  // Waits up to timeout_ms for one of the events; the events that are ready, 0 on time-out, -1 on
  // failure. A hang-up or error on the socket counts as readable so the next Receive reports it.
  int Wait(int events, int timeout_ms);
  void Close();

private:
  explicit Socket(intptr_t fd) : fd_(fd) {}
  intptr_t fd_ = -1;
};

}  // namespace zor::net
