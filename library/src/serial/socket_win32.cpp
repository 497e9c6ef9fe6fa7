// The Winsock version of the socket wrapper. select() rather than WSAPoll: WSAPoll does not report
// a refused connection on some Windows versions, select() does through its except set.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>

#include "socket.h"

namespace zor::net {

namespace {

using Clock = std::chrono::steady_clock;

// Winsock is started once for the process and left running until it ends: a library may not
// stop it from its unload, another user of Winsock in the process may still need it.
bool WinsockReady() {
  static const bool ready = [] {
    WSADATA data{};
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return ready;
}

int RemainingMs(Clock::time_point deadline) {
  auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

SOCKET Native(intptr_t fd) { return static_cast<SOCKET>(fd); }

bool WouldBlock() {
  const int error = ::WSAGetLastError();
  return error == WSAEWOULDBLOCK || error == WSAEINTR;
}

// Waits up to timeout_ms; bits of the read, write and except sets that are ready, -1 on failure.
constexpr int kExcept = 4;
int Select(SOCKET s, int events, int timeout_ms) {
  fd_set read_set, write_set, except_set;
  FD_ZERO(&read_set);
  FD_ZERO(&write_set);
  FD_ZERO(&except_set);
  if (events & Socket::kReadable) FD_SET(s, &read_set);
  if (events & Socket::kWritable) FD_SET(s, &write_set);
  FD_SET(s, &except_set);
  timeval timeout{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  if (::select(0, &read_set, &write_set, &except_set, &timeout) == SOCKET_ERROR) return -1;
  int ready = 0;
  if (FD_ISSET(s, &read_set)) ready |= Socket::kReadable;
  if (FD_ISSET(s, &write_set)) ready |= Socket::kWritable;
  if (FD_ISSET(s, &except_set)) ready |= kExcept;
  return ready;
}

// A non-blocking socket connected to one address, or INVALID_SOCKET.
SOCKET ConnectOne(const addrinfo& ai, Clock::time_point deadline) {
  SOCKET s = ::socket(ai.ai_family, ai.ai_socktype, ai.ai_protocol);
  if (s == INVALID_SOCKET) return INVALID_SOCKET;
  u_long non_blocking = 1;
  if (::ioctlsocket(s, FIONBIO, &non_blocking) != 0) {
    ::closesocket(s);
    return INVALID_SOCKET;
  }
  if (::connect(s, ai.ai_addr, static_cast<int>(ai.ai_addrlen)) != 0) {
    // A refused or failed connection shows in the except set.
    int error = 0;
    int length = sizeof error;
    if (::WSAGetLastError() != WSAEWOULDBLOCK ||
        Select(s, Socket::kWritable, RemainingMs(deadline)) != Socket::kWritable ||
        ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0 ||
        error != 0) {
      ::closesocket(s);
      return INVALID_SOCKET;
    }
  }
  BOOL one = TRUE;  // commands are a few bytes each
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  return s;
}

}  // namespace

Socket::~Socket() { Close(); }

Socket::Socket(Socket&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

Socket& Socket::operator=(Socket&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

Socket Socket::Connect(const char* host, const char* port, int timeout_ms) {
  if (!WinsockReady()) return Socket();
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* list = nullptr;
  if (::getaddrinfo(host, port, &hints, &list) != 0) return Socket();
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  SOCKET s = INVALID_SOCKET;
  for (addrinfo* ai = list; ai != nullptr && s == INVALID_SOCKET; ai = ai->ai_next) {
    if (RemainingMs(deadline) == 0) break;
    s = ConnectOne(*ai, deadline);
  }
  ::freeaddrinfo(list);
  return s == INVALID_SOCKET ? Socket() : Socket(static_cast<intptr_t>(s));
}

Socket::Io Socket::Receive(uint8_t* buffer, size_t capacity, size_t& received) {
  received = 0;
  if (fd_ < 0) return Io::Failed;
  const int size = capacity > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(capacity);
  const int n = ::recv(Native(fd_), reinterpret_cast<char*>(buffer), size, 0);
  if (n > 0) {
    received = static_cast<size_t>(n);
    return Io::Ok;
  }
  if (n == 0) return capacity == 0 ? Io::Ok : Io::Closed;
  return WouldBlock() ? Io::WouldBlock : Io::Failed;
}

Socket::Io Socket::Send(const uint8_t* data, size_t size, size_t& sent) {
  sent = 0;
  if (fd_ < 0) return Io::Failed;
  const int chunk = size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(size);
  const int n = ::send(Native(fd_), reinterpret_cast<const char*>(data), chunk, 0);
  if (n >= 0) {
    sent = static_cast<size_t>(n);
    return Io::Ok;
  }
  return WouldBlock() ? Io::WouldBlock : Io::Failed;
}

int Socket::Wait(int events, int timeout_ms) {
  if (fd_ < 0) return -1;
  const int ready = Select(Native(fd_), events, timeout_ms < 0 ? 0 : timeout_ms);
  if (ready < 0) return -1;
  int result = ready & (kReadable | kWritable);
  if (ready & kExcept) result |= kReadable;  // the next Receive reports the error
  return result & (events | kReadable);
}

void Socket::Close() {
  if (fd_ >= 0) ::closesocket(Native(fd_));
  fd_ = -1;
}

}  // namespace zor::net
