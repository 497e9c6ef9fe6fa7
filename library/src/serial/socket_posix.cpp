#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "socket.h"

namespace zor::net {

namespace {

#ifdef MSG_NOSIGNAL
constexpr int kSendFlags = MSG_NOSIGNAL;  // a vanished peer is an error, not a SIGPIPE
#else
constexpr int kSendFlags = 0;
#endif

int RemainingMs(std::chrono::steady_clock::time_point deadline) {
  auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// A non-blocking socket connected to one address, or -1.
int ConnectOne(const addrinfo& ai, std::chrono::steady_clock::time_point deadline) {
  int fd = ::socket(ai.ai_family, ai.ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, ai.ai_protocol);
  if (fd < 0) return -1;
  if (::connect(fd, ai.ai_addr, ai.ai_addrlen) != 0) {
    if (errno != EINPROGRESS) {
      ::close(fd);
      return -1;
    }
    pollfd p{fd, POLLOUT, 0};
    int error = 0;
    socklen_t length = sizeof error;
    int ready;
    do {
      ready = ::poll(&p, 1, RemainingMs(deadline));
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
      ::close(fd);
      return -1;
    }
  }
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);  // commands are a few bytes each
  return fd;
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
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* list = nullptr;
  if (::getaddrinfo(host, port, &hints, &list) != 0) return Socket();
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  int fd = -1;
  for (addrinfo* ai = list; ai != nullptr && fd < 0; ai = ai->ai_next) {
    if (RemainingMs(deadline) == 0) break;
    fd = ConnectOne(*ai, deadline);
  }
  ::freeaddrinfo(list);
  return Socket(fd);
}

Socket::Io Socket::Receive(uint8_t* buffer, size_t capacity, size_t& received) {
  received = 0;
  if (fd_ < 0) return Io::Failed;
  for (;;) {
    ssize_t n = ::recv(static_cast<int>(fd_), buffer, capacity, 0);
    if (n > 0) {
      received = static_cast<size_t>(n);
#ifdef TCP_QUICKACK
      // Acknowledge at once: a server that sends its answers in small writes without TCP_NODELAY
      // would otherwise hold each one back until our delayed acknowledgement, some 40 ms.
      int one = 1;
      ::setsockopt(static_cast<int>(fd_), IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
#endif
      return Io::Ok;
    }
    if (n == 0) return capacity == 0 ? Io::Ok : Io::Closed;
    if (errno == EINTR) continue;
    return (errno == EAGAIN || errno == EWOULDBLOCK) ? Io::WouldBlock : Io::Failed;
  }
}

Socket::Io Socket::Send(const uint8_t* data, size_t size, size_t& sent) {
  sent = 0;
  if (fd_ < 0) return Io::Failed;
  for (;;) {
    ssize_t n = ::send(static_cast<int>(fd_), data, size, kSendFlags);
    if (n >= 0) {
      sent = static_cast<size_t>(n);
      return Io::Ok;
    }
    if (errno == EINTR) continue;
    return (errno == EAGAIN || errno == EWOULDBLOCK) ? Io::WouldBlock : Io::Failed;
  }
}

int Socket::Wait(int events, int timeout_ms) {
  if (fd_ < 0) return -1;
  pollfd p{static_cast<int>(fd_), 0, 0};
  if (events & kReadable) p.events |= POLLIN;
  if (events & kWritable) p.events |= POLLOUT;
  int ready = ::poll(&p, 1, timeout_ms);
  if (ready < 0) return errno == EINTR ? 0 : -1;
  if (ready == 0) return 0;
  int result = 0;
  if (p.revents & (POLLIN | POLLHUP | POLLERR)) result |= kReadable;
  if (p.revents & (POLLOUT | POLLERR)) result |= kWritable;
  if (p.revents & POLLNVAL) return -1;
  return result & (events | kReadable);
}

void Socket::Close() {
  if (fd_ >= 0) ::close(static_cast<int>(fd_));
  fd_ = -1;
}

}  // namespace zor::net
