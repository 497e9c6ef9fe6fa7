// The RFC 2217 client's Telnet decoding fed arbitrary server bytes: first the codec on its own,
// then the library's network line over a loopback connection whose server side sends the bytes.
//
// The input: a flags byte (bit 0: the bytes go out in two parts, the second after the line
// settings; bit 1: the server closes the connection after the first part, bit 2: after the
// second), a split byte (where the second part begins, in 256ths), then the server's bytes. The line waits for nothing: whatever the
// server sent before a call is what the call finds.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz_input.h"
#include "serial/rfc2217_line.h"
#include "serial/telnet_codec.h"

namespace {

namespace telnet = zor::telnet;

void DecodeAlone(std::string_view stream) {
  telnet::Parser parser;
  telnet::Options options;
  options.Support(telnet::OPT_COM_PORT, true, true);
  options.Support(telnet::OPT_BINARY, true, true);
  uint8_t answer[telnet::kNegotiationSize];
  for (char c : stream) {
    switch (parser.Feed(static_cast<uint8_t>(c))) {
      case telnet::Parser::Event::Negotiation:
        if (options.Receive(parser.verb(), parser.option(), answer) > sizeof answer) std::abort();
        break;
      case telnet::Parser::Event::Subnegotiation:
        if (parser.subnegotiation().empty() ||
            parser.subnegotiation().size() > telnet::Parser::kMaxSubnegotiation) {
          std::abort();
        }
        break;
      default: break;
    }
  }
}

// A loopback listener for the whole run; its port in the URL.
struct Listener {
  int fd = -1;
  std::string url;
  Listener() {
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(fd, 4) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      std::abort();
    }
    url = "rfc2217://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
  }
  int Accept() const {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 1000) != 1) return -1;
    return ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
  }
};

void Send(int server, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(server, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n <= 0) return;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
}

zor::Rfc2217Timing NoWaits() {
  zor::Rfc2217Timing timing;
  timing.negotiation = timing.settings = timing.control = timing.read_interval = std::chrono::milliseconds(0);
  timing.write_stall = std::chrono::milliseconds(100);
  return timing;
}

void Check(bool holds) {
  if (!holds) std::abort();
}

// Every operation of the line once, in the order a port uses them.
void UseLine(zor::Line& line, int server, std::string_view later, bool close) {
  (void)line.GetState();
  (void)line.SetState();
  Send(server, later);
  if (close) ::shutdown(server, SHUT_WR);
  char buffer[8192];
  uint32_t got = 0, status = 0, written = 0;
  (void)line.SetTimeouts(zor::Timeouts::Normal);
  if (line.Read(buffer, 64, got)) Check(got <= 64);
  // A read to the terminator ends with the first carriage return, if one came.
  if (line.ReadToTerminator(buffer, 64, got)) {
    Check(got <= 64);
    const void* terminator = std::memchr(buffer, '\r', got);
    Check(terminator == nullptr || terminator == buffer + got - 1);
  }
  // Only the four status lines and the line errors RFC 2217 can tell come out.
  if (line.ModemStatus(status)) {
    Check((status & ~(zor::MS_CTS_ON | zor::MS_DSR_ON | zor::MS_RING_ON | zor::MS_RLSD_ON)) == 0);
  }
  const uint32_t told = zor::CE_RXPARITY | zor::CE_FRAME | zor::CE_OVERRUN | zor::CE_BREAK | zor::CE_RXOVER;
  Check((line.ClearErrors() & ~told) == 0);
  for (zor::Escape e : {zor::Escape::SetRts, zor::Escape::SetDtr, zor::Escape::ClrRts, zor::Escape::SetRts}) {
    (void)line.EscapeFunction(e);
  }
  (void)line.Purge();
  (void)line.SetTimeouts(zor::Timeouts::Poll);
  if (line.Read(buffer, sizeof buffer, got)) Check(got <= sizeof buffer);
  (void)line.Write("V\r\xff", 3, written);
  uint32_t mask = zor::EV_TXEMPTY;
  (void)line.WaitEvent(mask);
  (void)line.Close();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Listener listener;
  zorfuzz::Input input(data, size);
  const uint8_t flags = input.Byte();
  const uint8_t split = input.Byte();
  const std::string_view stream = input.Rest();
  DecodeAlone(stream);

  const size_t first = (flags & 0x01) ? stream.size() * split / 256 : stream.size();
  auto line = zor::OpenRfc2217Line(listener.url.c_str(), NoWaits());
  const int server = listener.Accept();
  if (!line || server < 0) std::abort();
  Send(server, stream.substr(0, first));
  if (flags & 0x02) ::shutdown(server, SHUT_WR);
  UseLine(*line, server, stream.substr(first), (flags & 0x04) != 0);
  line.reset();
  ::close(server);
  return 0;
}
