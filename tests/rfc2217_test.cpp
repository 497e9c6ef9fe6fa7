// The RFC 2217 network serial line: the Telnet codec, the client line against a hand-driven peer
// for the awkward server behaviours, and against the simulator's server for the whole path.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <COMPort.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "device_model.h"
#include "rfc2217_server.h"
#include "serial/line.h"
#include "serial/rfc2217_line.h"
#include "serial/telnet_codec.h"

namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using Clock = std::chrono::steady_clock;
namespace telnet = zor::telnet;
namespace cpo = zor::telnet::cpo;

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s.push_back(static_cast<char>(v));
  return s;
}

std::string ComPortCommand(uint8_t code, std::string_view value) {
  std::string out(telnet::SubnegotiationSize(1 + value.size()), '\0');
  out.resize(telnet::EncodeComPort(code, {reinterpret_cast<const uint8_t*>(value.data()), value.size()},
                                   reinterpret_cast<uint8_t*>(out.data())));
  return out;
}

double MsSince(Clock::time_point start) { return std::chrono::duration<double, std::milli>(Clock::now() - start).count(); }

// A loopback port where nothing listens.
uint16_t ClosedPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), length);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

// ---- codec ----

// The parser's events, written compactly: D<hex> data, N<verb>/<option>, C<hex> command, S[<hex>...].
std::string Events(std::string_view input) {
  telnet::Parser parser;
  std::string out;
  char item[16];
  for (char c : input) {
    switch (parser.Feed(static_cast<uint8_t>(c))) {
      case telnet::Parser::Event::Data:
        std::snprintf(item, sizeof item, "D%02X ", parser.data());
        out += item;
        break;
      case telnet::Parser::Event::Negotiation:
        std::snprintf(item, sizeof item, "N%d/%d ", parser.verb(), parser.option());
        out += item;
        break;
      case telnet::Parser::Event::Command:
        std::snprintf(item, sizeof item, "C%02X ", parser.verb());
        out += item;
        break;
      case telnet::Parser::Event::Subnegotiation:
        out += "S[";
        for (uint8_t b : parser.subnegotiation()) {
          std::snprintf(item, sizeof item, "%02X", b);
          out += item;
        }
        out += "] ";
        break;
      case telnet::Parser::Event::None:
        break;
    }
  }
  return out;
}

TEST(TelnetCodec, ParserSplitsTheStream) {
  struct Case {
    const char* what;
    std::string input;
    std::string events;
  };
  const std::string long_sub = Bytes({255, 250}) + std::string(300, 'x') + Bytes({255, 240, 'A'});
  const Case cases[] = {
      {"plain data, CR NUL kept in binary mode", "A\r\0"s, "D41 D0D D00 "},
      {"doubled IAC is one data byte", Bytes({255, 255, 'B'}), "DFF D42 "},
      {"negotiation", Bytes({255, 253, 44}), "N253/44 "},
      {"subnegotiation with a doubled IAC in its value", Bytes({255, 250, 44, 107, 255, 255, 255, 240}),
       "S[2C6BFF] "},
      {"other commands", Bytes({255, 241, 'A'}), "CF1 D41 "},
      {"stray SE is dropped", Bytes({255, 240, 'A'}), "D41 "},
      {"a command inside a subnegotiation ends it", Bytes({255, 250, 44, 107, 255, 253, 1, 'A'}), "N253/1 D41 "},
      {"an empty subnegotiation is nothing", Bytes({255, 250, 255, 240, 'A'}), "D41 "},
      {"an overlong subnegotiation is dropped whole", long_sub, "D41 "},
  };
  for (const Case& c : cases) EXPECT_EQ(Events(c.input), c.events) << c.what;
}

TEST(TelnetCodec, EncodersDoubleIacAndRoundTripThroughTheParser) {
  uint8_t out[64];
  const uint8_t data[] = {0xFF, 'a', 0xFF};
  size_t n = telnet::EscapeData(data, out);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), n), Bytes({255, 255, 'a', 255, 255}));

  EXPECT_EQ(ComPortCommand(cpo::SET_BAUDRATE, Bytes({0, 3, 0x84, 0})),
            Bytes({255, 250, 44, 1, 0, 3, 0x84, 0, 255, 240}));
  for (const std::string& value : {Bytes({0xFF}), Bytes({0xFF, 0xFF, 0, 0xFF}), std::string("ab")}) {
    const std::string encoded = ComPortCommand(cpo::SET_MODEMSTATE_MASK, value);
    EXPECT_LE(encoded.size(), telnet::SubnegotiationSize(1 + value.size()));
    std::string expected = "S[2C0B";
    for (char c : value) {
      char hex[3];
      std::snprintf(hex, sizeof hex, "%02X", static_cast<uint8_t>(c));
      expected += hex;
    }
    EXPECT_EQ(Events(encoded), expected + "] ");
  }
}

TEST(TelnetCodec, OptionsAnswerOnlyChangesAndDeclineTheUnsupported) {
  struct Step {
    uint8_t verb, option;
    std::string answer;  // empty: no answer
  };
  struct Case {
    const char* what;
    std::vector<uint8_t> requests;  // WILL or DO of BINARY, sent first
    std::vector<Step> steps;
    bool local, remote;  // BINARY at the end
  };
  const Case cases[] = {
      {"our request agreed: no reply", {telnet::WILL}, {{telnet::DO, 0, ""}}, true, false},
      {"an offer of a supported option is accepted once", {},
       {{telnet::WILL, 0, Bytes({255, 253, 0})}, {telnet::WILL, 0, ""}}, false, true},
      {"unsupported options are declined", {},
       {{telnet::DO, 1, Bytes({255, 252, 1})}, {telnet::WILL, 1, Bytes({255, 254, 1})}}, false, false},
      {"switching an enabled option off is confirmed once", {telnet::WILL},
       {{telnet::DO, 0, ""}, {telnet::DONT, 0, Bytes({255, 252, 0})}, {telnet::DONT, 0, ""}}, false, false},
      {"our request refused: no reply", {telnet::DO}, {{telnet::WONT, 0, ""}}, false, false},
  };
  for (const Case& c : cases) {
    telnet::Options options;
    options.Support(telnet::OPT_BINARY, true, true);
    uint8_t out[8];
    for (uint8_t verb : c.requests) options.Request(verb, telnet::OPT_BINARY, out);
    for (const Step& step : c.steps) {
      size_t n = options.Receive(step.verb, step.option, out);
      EXPECT_EQ(std::string(reinterpret_cast<char*>(out), n), step.answer) << c.what;
    }
    EXPECT_EQ(options.Local(telnet::OPT_BINARY), c.local) << c.what;
    EXPECT_EQ(options.Remote(telnet::OPT_BINARY), c.remote) << c.what;
  }
}

TEST(Rfc2217Name, AcceptsHostPortFormsOnly) {
  struct Case {
    const char* name;
    bool ok;
    const char* host;
    const char* port;
  };
  const Case cases[] = {
      {"rfc2217://127.0.0.1:4001", true, "127.0.0.1", "4001"},
      {"rfc2217://lab-server.example:65535", true, "lab-server.example", "65535"},
      {"rfc2217://[::1]:1", true, "::1", "1"},
      {"rfc2217://[fe80::1%eth0]:4001", true, "fe80::1%eth0", "4001"},
      {"rfc2217://host", false, "", ""},
      {"rfc2217://host:", false, "", ""},
      {"rfc2217://host:0", false, "", ""},
      {"rfc2217://host:65536", false, "", ""},
      {"rfc2217://host:40a1", false, "", ""},
      {"rfc2217://host:4001/x", false, "", ""},
      {"rfc2217://:4001", false, "", ""},
      {"rfc2217://::1:4001", false, "", ""},
      {"rfc2217://[::1]4001", false, "", ""},
      {"rfc2217://[]:4001", false, "", ""},
      {"rfc2217://user@host:4001", false, "", ""},
      {"/dev/ttyS0", false, "", ""},
  };
  for (const Case& c : cases) {
    std::string host, port;
    EXPECT_EQ(zor::ParseRfc2217Name(c.name, host, port), c.ok) << c.name;
    if (c.ok) {
      EXPECT_EQ(host, c.host) << c.name;
      EXPECT_EQ(port, c.port) << c.name;
    }
  }
  EXPECT_EQ(zor::OpenRfc2217Line("rfc2217://host"), nullptr);
  const std::string closed = "rfc2217://127.0.0.1:" + std::to_string(ClosedPort());
  EXPECT_EQ(zor::OpenLine(closed.c_str()), nullptr);
}

// ---- a hand-driven peer ----

struct PeerBehaviour {
  enum class ComPort { Agree, Refuse, Silent } com_port = ComPort::Agree;
  bool ack_settings = true;
  std::string baud_answer;  // answers the baud rate with these 4 bytes instead of an echo
  bool ack_lines = true;    // DTR and RTS changes
  std::string before_purge_ack;  // data sent between a purge request and its acknowledgement
};

template <typename Change>
PeerBehaviour With(Change change) {
  PeerBehaviour behaviour;
  change(behaviour);
  return behaviour;
}

// A loopback RFC 2217 server that answers as told and records what the client sent.
class ScriptedPeer {
public:
  explicit ScriptedPeer(PeerBehaviour behaviour = {}) : behaviour_(std::move(behaviour)) {
    listen_fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), length);
    ::listen(listen_fd_, 1);
    ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Loop(); });
  }
  ~ScriptedPeer() {
    stop_ = true;
    thread_.join();
    Disconnect();
    ::close(listen_fd_);
  }

  std::string Url() const { return "rfc2217://127.0.0.1:" + std::to_string(port_); }

  void Send(const std::string& bytes) {
    auto deadline = Clock::now() + 2s;
    while (fd_.load() < 0 && Clock::now() < deadline) std::this_thread::sleep_for(1ms);
    std::lock_guard<std::mutex> lock(mutex_);
    if (fd_ >= 0) ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  }
  void Notify(uint8_t code, uint8_t value) { Send(ComPortCommand(code, std::string(1, static_cast<char>(value)))); }
  void Disconnect() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  std::vector<uint8_t> Controls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return controls_;
  }
  std::string Data() {
    std::lock_guard<std::mutex> lock(mutex_);
    return data_;
  }
  std::string Raw() {
    std::lock_guard<std::mutex> lock(mutex_);
    return raw_;
  }

private:
  void Loop() {
    while (!stop_ && fd_ < 0) {
      pollfd p{listen_fd_, POLLIN, 0};
      if (::poll(&p, 1, 5) == 1) fd_ = ::accept(listen_fd_, nullptr, nullptr);
    }
    char buffer[1024];
    while (!stop_) {
      int fd = fd_;
      if (fd < 0) return;
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 5) != 1) continue;
      ssize_t got = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
      if (got <= 0) return;
      std::lock_guard<std::mutex> lock(mutex_);
      raw_.append(buffer, static_cast<size_t>(got));
      for (ssize_t i = 0; i < got; ++i) Handle(static_cast<uint8_t>(buffer[i]));
    }
  }

  // Called with mutex_ held.
  void Handle(uint8_t byte) {
    switch (parser_.Feed(byte)) {
      case telnet::Parser::Event::Data:
        data_.push_back(static_cast<char>(parser_.data()));
        break;
      case telnet::Parser::Event::Negotiation:
        if (parser_.verb() == telnet::WILL && parser_.option() == telnet::OPT_COM_PORT) {
          if (behaviour_.com_port == PeerBehaviour::ComPort::Agree) Reply(Bytes({255, 253, 44}));
          if (behaviour_.com_port == PeerBehaviour::ComPort::Refuse) Reply(Bytes({255, 254, 44}));
        }
        break;
      case telnet::Parser::Event::Subnegotiation:
        ComPort(parser_.subnegotiation());
        break;
      default:
        break;
    }
  }

  void ComPort(std::span<const uint8_t> sub) {
    if (sub.size() < 3 || sub[0] != telnet::OPT_COM_PORT) return;
    const uint8_t code = sub[1];
    std::string value(reinterpret_cast<const char*>(sub.data() + 2), sub.size() - 2);
    if (code == cpo::SET_CONTROL) controls_.push_back(sub[2]);
    const bool line_control = code == cpo::SET_CONTROL && sub[2] >= cpo::DTR_ASK && sub[2] <= cpo::RTS_OFF;
    if (code == cpo::PURGE_DATA) {
      Reply(behaviour_.before_purge_ack);
    } else if (line_control ? !behaviour_.ack_lines : !behaviour_.ack_settings) {
      return;
    } else if (code > cpo::SET_CONTROL) {
      return;  // the masks go unanswered, as pyserial's server leaves them
    }
    if (code == cpo::SET_BAUDRATE && !behaviour_.baud_answer.empty()) value = behaviour_.baud_answer;
    Reply(ComPortCommand(static_cast<uint8_t>(cpo::SERVER + code), value));
  }

  void Reply(const std::string& bytes) {
    if (fd_ >= 0 && !bytes.empty()) ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  }

  PeerBehaviour behaviour_;
  int listen_fd_ = -1;
  uint16_t port_ = 0;
  std::atomic<int> fd_{-1};
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mutex_;
  telnet::Parser parser_;
  std::vector<uint8_t> controls_;
  std::string data_, raw_;
};

zor::Rfc2217Timing Fast() {
  zor::Rfc2217Timing timing;
  timing.negotiation = 300ms;
  timing.settings = 300ms;
  timing.control = 60ms;
  return timing;
}

// Opens the line as the port does: state, settings, time-outs.
std::unique_ptr<zor::Line> OpenReady(const std::string& url, const zor::Rfc2217Timing& timing = Fast()) {
  auto line = zor::OpenRfc2217Line(url.c_str(), timing);
  if (!line || !line->GetState() || !line->SetState() || !line->SetTimeouts(zor::Timeouts::Normal)) return nullptr;
  return line;
}

std::string ReadFor(zor::Line& line, std::chrono::milliseconds bound, size_t want) {
  std::string got;
  char buffer[4096];
  auto deadline = Clock::now() + bound;
  while (got.size() < want && Clock::now() < deadline) {
    uint32_t n = 0;
    if (!line.Read(buffer, static_cast<uint32_t>(std::min(sizeof buffer, want - got.size())), n)) break;
    got.append(buffer, n);
  }
  return got;
}

// Polls the status lines until `pick` of them reads `want`; the last status read.
uint32_t StatusWhen(zor::Line& line, uint32_t want, uint32_t pick = 0xF0, std::chrono::milliseconds bound = 2s) {
  uint32_t status = 0xFFFF;
  auto deadline = Clock::now() + bound;
  while (Clock::now() < deadline) {
    if (!line.ModemStatus(status) || (status & pick) == want) break;
    std::this_thread::sleep_for(1ms);
  }
  return status;
}

TEST(Rfc2217Peer, ComPortOptionRefusedOrUnansweredFailsGetState) {
  ScriptedPeer refusing(With([](PeerBehaviour& b) { b.com_port = PeerBehaviour::ComPort::Refuse; }));
  auto line = zor::OpenRfc2217Line(refusing.Url().c_str());
  ASSERT_NE(line, nullptr);
  auto start = Clock::now();
  EXPECT_FALSE(line->GetState());
  EXPECT_LT(MsSince(start), 500.0) << "a refusal needs no waiting";
  EXPECT_FALSE(line->SetState());

  // The one real wait of the suite: a silent server is given about a second.
  ScriptedPeer silent(With([](PeerBehaviour& b) { b.com_port = PeerBehaviour::ComPort::Silent; }));
  line = zor::OpenRfc2217Line(silent.Url().c_str());
  ASSERT_NE(line, nullptr);
  start = Clock::now();
  EXPECT_FALSE(line->GetState());
  EXPECT_GE(MsSince(start), 950.0);
  EXPECT_LT(MsSince(start), 2500.0);
}

TEST(Rfc2217Peer, SettingsNeedAcknowledgementsButNotTheValuesAsked) {
  struct Case {
    const char* what;
    PeerBehaviour behaviour;
    bool ok;
  };
  const Case cases[] = {
      {"echoed", {}, true},
      {"another baud rate in force", With([](PeerBehaviour& b) { b.baud_answer = Bytes({0, 1, 0xC2, 0}); }), true},
      {"no acknowledgement", With([](PeerBehaviour& b) { b.ack_settings = false; }), false},
  };
  for (const Case& c : cases) {
    ScriptedPeer peer(c.behaviour);
    auto line = zor::OpenRfc2217Line(peer.Url().c_str(), Fast());
    ASSERT_NE(line, nullptr) << c.what;
    ASSERT_TRUE(line->GetState()) << c.what;
    auto start = Clock::now();
    EXPECT_EQ(line->SetState(), c.ok) << c.what;
    EXPECT_LT(MsSince(start), 1000.0) << c.what;
  }
  // What went out: 230400 8E1 and no flow control.
  ScriptedPeer peer;
  ASSERT_NE(OpenReady(peer.Url()), nullptr);
  const std::string raw = peer.Raw();
  for (const std::string& command :
       {ComPortCommand(cpo::SET_BAUDRATE, Bytes({0, 3, 0x84, 0})), ComPortCommand(cpo::SET_DATASIZE, "\x08"),
        ComPortCommand(cpo::SET_PARITY, "\x03"), ComPortCommand(cpo::SET_STOPSIZE, "\x01"),
        ComPortCommand(cpo::SET_CONTROL, "\x01")}) {
    EXPECT_NE(raw.find(command), std::string::npos);
  }
}

TEST(Rfc2217Peer, UnacknowledgedDtrAndRtsChangesCarryOn) {
  ScriptedPeer peer(With([](PeerBehaviour& b) { b.ack_lines = false; }));
  auto line = OpenReady(peer.Url());
  ASSERT_NE(line, nullptr);
  auto start = Clock::now();
  EXPECT_TRUE(line->EscapeFunction(zor::Escape::SetDtr));
  EXPECT_GE(MsSince(start), 55.0) << "the first change is given its bound";
  start = Clock::now();
  EXPECT_TRUE(line->EscapeFunction(zor::Escape::SetRts));
  EXPECT_TRUE(line->EscapeFunction(zor::Escape::ClrRts));
  EXPECT_TRUE(line->EscapeFunction(zor::Escape::ClrDtr));
  EXPECT_LT(MsSince(start), 50.0) << "a server that never answers is not waited for again";
  auto deadline = Clock::now() + 1s;
  while (peer.Controls().size() < 5 && Clock::now() < deadline) std::this_thread::sleep_for(1ms);
  EXPECT_EQ(peer.Controls(), (std::vector<uint8_t>{cpo::FLOW_NONE, cpo::DTR_ON, cpo::RTS_ON, cpo::RTS_OFF, cpo::DTR_OFF}));

  ScriptedPeer answering;
  line = OpenReady(answering.Url());
  ASSERT_NE(line, nullptr);
  start = Clock::now();
  EXPECT_TRUE(line->EscapeFunction(zor::Escape::SetDtr));
  EXPECT_LT(MsSince(start), 50.0) << "an acknowledgement ends the wait";
}

TEST(Rfc2217Peer, StatusLinesAreInactiveUntilTheFirstNotification) {
  ScriptedPeer peer;
  auto line = OpenReady(peer.Url());
  ASSERT_NE(line, nullptr);
  uint32_t status = 0xFFFF;
  ASSERT_TRUE(line->ModemStatus(status));
  EXPECT_EQ(status, 0u);

  // DCD, DSR and CTS with their change flags, split inside the subnegotiation.
  const std::string notify = ComPortCommand(cpo::SERVER + cpo::NOTIFY_MODEMSTATE, "\xBB");
  peer.Send(notify.substr(0, 4));
  std::this_thread::sleep_for(20ms);
  ASSERT_TRUE(line->ModemStatus(status));
  EXPECT_EQ(status, 0u);
  peer.Send(notify.substr(4));
  EXPECT_EQ(StatusWhen(*line, zor::MS_CTS_ON | zor::MS_DSR_ON | zor::MS_RLSD_ON, 0xFFFF),
            zor::MS_CTS_ON | zor::MS_DSR_ON | zor::MS_RLSD_ON);
  peer.Notify(cpo::SERVER + cpo::NOTIFY_MODEMSTATE, 0x40 | 0x0B);
  EXPECT_EQ(StatusWhen(*line, zor::MS_RING_ON, 0xFFFF), zor::MS_RING_ON);
}

TEST(Rfc2217Peer, LineStateErrorsAreFetchedOnce) {
  ScriptedPeer peer;
  auto line = OpenReady(peer.Url());
  ASSERT_NE(line, nullptr);
  const auto errors_after = [&](uint8_t line_state) {
    peer.Notify(cpo::SERVER + cpo::NOTIFY_LINESTATE, line_state);
    peer.Send("!");  // the marker: once it is read, the notification has been taken in
    EXPECT_EQ(ReadFor(*line, 1s, 1), "!");
    return line->ClearErrors();
  };
  EXPECT_EQ(errors_after(0x04), zor::CE_RXPARITY);
  EXPECT_EQ(line->ClearErrors(), 0u);
  EXPECT_EQ(errors_after(0x1A), zor::CE_BREAK | zor::CE_FRAME | zor::CE_OVERRUN);
  EXPECT_EQ(errors_after(0x61), 0u) << "data ready and empty registers are no errors";
}

TEST(Rfc2217Peer, BrokenConnectionFailsReadWriteAndStatusQuickly) {
  ScriptedPeer peer;
  auto line = OpenReady(peer.Url());
  ASSERT_NE(line, nullptr);
  peer.Send("AB");
  std::this_thread::sleep_for(20ms);
  peer.Disconnect();
  std::this_thread::sleep_for(20ms);
  auto start = Clock::now();
  char buffer[8];
  uint32_t n = 0;
  EXPECT_TRUE(line->Read(buffer, sizeof buffer, n)) << "what arrived before the end is still delivered";
  EXPECT_EQ(std::string(buffer, n), "AB");
  EXPECT_FALSE(line->Read(buffer, sizeof buffer, n));
  EXPECT_FALSE(line->Write("V\r", 2, n));
  uint32_t status = 0, mask = zor::EV_TXEMPTY;
  EXPECT_FALSE(line->ModemStatus(status));
  EXPECT_FALSE(line->WaitEvent(mask));
  EXPECT_FALSE(line->EscapeFunction(zor::Escape::ClrDtr));
  EXPECT_LT(MsSince(start), 100.0);
}

TEST(Rfc2217Peer, IacIsDoubledBothWays) {
  ScriptedPeer peer;
  auto line = OpenReady(peer.Url());
  ASSERT_NE(line, nullptr);
  peer.Send(Bytes({255}));
  std::this_thread::sleep_for(20ms);
  peer.Send(Bytes({255, 'A'}));
  EXPECT_EQ(ReadFor(*line, 1s, 2), Bytes({255, 'A'}));

  uint32_t written = 0;
  const std::string data = Bytes({255, 0, 255});
  ASSERT_TRUE(line->Write(data.data(), 3, written));
  EXPECT_EQ(written, 3u);
  auto deadline = Clock::now() + 1s;
  while (peer.Data().size() < 3 && Clock::now() < deadline) std::this_thread::sleep_for(1ms);
  EXPECT_EQ(peer.Data(), data);
  const std::string raw = peer.Raw();
  EXPECT_EQ(raw.substr(raw.size() - 5), Bytes({255, 255, 0, 255, 255}));
}

TEST(Rfc2217Peer, ReadTimeOutsBoundTheWholeRead) {
  ScriptedPeer peer;
  zor::Rfc2217Timing timing = Fast();
  timing.read_interval = 100ms;  // long enough that a loaded machine cannot blur the cases
  auto line = OpenReady(peer.Url(), timing);
  ASSERT_NE(line, nullptr);
  char buffer[16];
  uint32_t n = 99;

  auto start = Clock::now();
  EXPECT_TRUE(line->Read(buffer, sizeof buffer, n));
  EXPECT_EQ(n, 0u);
  EXPECT_GE(MsSince(start), 95.0);

  ASSERT_TRUE(line->SetTimeouts(zor::Timeouts::Poll));
  start = Clock::now();
  EXPECT_TRUE(line->Read(buffer, sizeof buffer, n));
  EXPECT_EQ(n, 0u);
  EXPECT_LT(MsSince(start), 50.0);
  ASSERT_TRUE(line->SetTimeouts(zor::Timeouts::Normal));

  // As a serial port with a total time-out: bytes trickling in do not stretch the read.
  std::thread sender([&] {
    peer.Send("A");
    std::this_thread::sleep_for(50ms);
    peer.Send("B");
    std::this_thread::sleep_for(250ms);
    peer.Send("C");
  });
  start = Clock::now();
  EXPECT_TRUE(line->Read(buffer, sizeof buffer, n));
  const double took = MsSince(start);
  EXPECT_EQ(std::string(buffer, n), "AB") << "a gap shorter than the time-out does not end the read";
  EXPECT_GE(took, 95.0);
  EXPECT_LT(took, 140.0) << "a time-out counted from the last byte would end the read at 150 ms";
  sender.join();
  EXPECT_TRUE(line->Read(buffer, sizeof buffer, n));
  EXPECT_EQ(std::string(buffer, n), "C");

  peer.Send("XYZ");
  std::this_thread::sleep_for(20ms);
  start = Clock::now();
  EXPECT_TRUE(line->Read(buffer, 3, n));
  EXPECT_EQ(std::string(buffer, n), "XYZ");
  EXPECT_LT(MsSince(start), 50.0) << "all bytes asked for end the read at once";
}

// A reply of unknown length: the read ends when its terminator is in, not at the time-out, and
// what comes later is left for the next read.
TEST(Rfc2217Peer, ReadToTerminatorEndsOnceTheTerminatorIsIn) {
  ScriptedPeer peer;
  zor::Rfc2217Timing timing = Fast();
  timing.read_interval = 200ms;
  auto line = OpenReady(peer.Url(), timing);
  ASSERT_NE(line, nullptr);
  std::thread sender([&] {
    peer.Send("ZOR");
    std::this_thread::sleep_for(20ms);
    peer.Send("LINE\r");
    std::this_thread::sleep_for(20ms);
    peer.Send("next");
  });
  char buffer[64];
  uint32_t n = 0;
  const auto start = Clock::now();
  EXPECT_TRUE(line->ReadToTerminator(buffer, sizeof buffer, n));
  const double took = MsSince(start);
  sender.join();
  EXPECT_EQ(std::string(buffer, n), "ZORLINE\r");
  EXPECT_LT(took, 150.0) << "the read waited out its time-out";
  std::this_thread::sleep_for(20ms);
  EXPECT_TRUE(line->Read(buffer, 4, n));
  EXPECT_EQ(std::string(buffer, n), "next");
}

// Bytes that arrived together with the terminator but behind it are the next read's: a reply of
// unknown length ends at its terminator however the bytes were grouped on the way.
TEST(Rfc2217Peer, ReadToTerminatorLeavesWhatCameBehindTheTerminatorQueued) {
  ScriptedPeer peer;
  auto line = OpenReady(peer.Url());
  ASSERT_NE(line, nullptr);
  peer.Send("ZORLINE\rV0102\r0");
  std::this_thread::sleep_for(20ms);
  char buffer[64];
  uint32_t n = 0;
  EXPECT_TRUE(line->ReadToTerminator(buffer, sizeof buffer, n));
  EXPECT_EQ(std::string(buffer, n), "ZORLINE\r");
  EXPECT_TRUE(line->ReadToTerminator(buffer, sizeof buffer, n));
  EXPECT_EQ(std::string(buffer, n), "V0102\r");
  EXPECT_TRUE(line->Read(buffer, sizeof buffer, n));
  EXPECT_EQ(std::string(buffer, n), "0");
}

TEST(Rfc2217Peer, PurgeDiscardsWhatWasSentBeforeItsAcknowledgement) {
  ScriptedPeer peer(With([](PeerBehaviour& b) { b.before_purge_ack = "in flight"; }));
  auto line = OpenReady(peer.Url());
  ASSERT_NE(line, nullptr);
  peer.Send("stale");
  std::this_thread::sleep_for(20ms);
  ASSERT_TRUE(line->Purge());
  peer.Send("new");
  EXPECT_EQ(ReadFor(*line, 1s, 3), "new");
  EXPECT_NE(peer.Raw().find(ComPortCommand(cpo::PURGE_DATA, "\x03")), std::string::npos);
}

// ---- against the simulator's server ----

class Rfc2217Simulator : public ::testing::Test {
protected:
  static zorsim::DeviceConfig Config() {
    zorsim::DeviceConfig config;
    config.noise = 0.0;
    return config;
  }
  void Start(bool pacing = false, zorsim::DeviceConfig config = Config()) {
    model_ = std::make_unique<zorsim::DeviceModel>(config, zorsim::DeviceModel::Clock::now());
    zorsim::ServerOptions options;
    options.port = "0";
    options.pacing = pacing;
    server_ = std::make_unique<zorsim::Rfc2217Server>(*model_, options);
    std::string error;
    ASSERT_TRUE(server_->Listen(error)) << error;
    thread_ = std::thread([this] { server_->Run(); });
  }
  void TearDown() override {
    if (server_) server_->Stop();
    if (thread_.joinable()) thread_.join();
  }
  std::string Url() const { return server_->Url(); }
  std::unique_ptr<zor::Line> Open() {
    auto line = zor::OpenLine(Url().c_str());
    if (!line || !line->GetState() || !line->SetState() || !line->SetTimeouts(zor::Timeouts::Normal) ||
        !line->Purge() || !line->EscapeFunction(zor::Escape::SetRts) || !line->EscapeFunction(zor::Escape::SetDtr)) {
      return nullptr;
    }
    return line;
  }
  // Sends a command once CTS is active and reads up to the carriage return.
  static std::string Exchange(zor::Line& line, const std::string& command, size_t max = 64) {
    StatusWhen(line, zor::MS_CTS_ON, zor::MS_CTS_ON);
    uint32_t written = 0;
    const std::string request = command + "\r";
    if (!line.Write(request.data(), static_cast<uint32_t>(request.size()), written)) return "<write failed>";
    std::string reply;
    auto deadline = Clock::now() + 2s;
    char buffer[4096];
    while (Clock::now() < deadline && (reply.empty() || reply.back() != '\r') && reply.size() < max) {
      uint32_t n = 0;
      if (!line.Read(buffer, static_cast<uint32_t>(std::min(sizeof buffer, max - reply.size())), n)) break;
      reply.append(buffer, n);
    }
    return reply;
  }

  std::unique_ptr<zorsim::DeviceModel> model_;
  std::unique_ptr<zorsim::Rfc2217Server> server_;
  std::thread thread_;
};

TEST_F(Rfc2217Simulator, OpeningSetsTheLineAndTheDeviceLinesFollowDtrAndRts) {
  Start();
  auto line = Open();
  ASSERT_NE(line, nullptr);
  const zorsim::SerialSettings settings = server_->Settings();
  EXPECT_EQ(settings.baud_rate, 230400u);
  EXPECT_EQ(settings.data_size, 8);
  EXPECT_EQ(settings.parity, cpo::PARITY_EVEN);
  EXPECT_EQ(settings.stop_size, cpo::STOPSIZE_ONE);
  EXPECT_EQ(settings.flow, cpo::FLOW_NONE);
  EXPECT_TRUE(settings.com_port);

  const uint32_t connected = zor::MS_DSR_ON | zor::MS_RLSD_ON;
  EXPECT_EQ(StatusWhen(*line, connected | zor::MS_CTS_ON), connected | zor::MS_CTS_ON);
  ASSERT_TRUE(line->EscapeFunction(zor::Escape::ClrRts));
  EXPECT_EQ(StatusWhen(*line, connected), connected) << "CTS drops with RTS, the device stays connected";
  ASSERT_TRUE(line->EscapeFunction(zor::Escape::ClrDtr));
  EXPECT_EQ(StatusWhen(*line, 0), 0u);
  EXPECT_FALSE(server_->Settings().dtr);
  ASSERT_TRUE(line->EscapeFunction(zor::Escape::SetDtr));
  ASSERT_TRUE(line->EscapeFunction(zor::Escape::SetRts));
  EXPECT_EQ(StatusWhen(*line, connected | zor::MS_CTS_ON), connected | zor::MS_CTS_ON);
  EXPECT_EQ(Exchange(*line, "V"), "V0102\r");
}

TEST_F(Rfc2217Simulator, PacingSpendsTheWireTimeOnEveryByte) {
  Start(/*pacing=*/true);
  auto line = Open();
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(Exchange(*line, "V"), "V0102\r");
  auto start = Clock::now();
  const std::string display = Exchange(*line, "L", 4096);
  const double ms = MsSince(start);
  ASSERT_EQ(display.size(), 2050u) << "echo, 2048 hex digits, terminator";
  EXPECT_EQ(display.front(), 'L');
  EXPECT_EQ(display.back(), '\r');
  EXPECT_GE(ms, 2052 * 0.0477) << "the command and the reply at 11 bits a character, 230400 baud";
}

// A device raises its lines before it answers and drops them only after the answer is out; on a
// paced line the client sees each change on the right side of the reply.
TEST_F(Rfc2217Simulator, CtsComesBackBeforeTheReply) {
  zorsim::DeviceConfig config = Config();
  config.busy_time = 5ms;
  Start(/*pacing=*/true, config);
  auto line = Open();
  ASSERT_NE(line, nullptr);
  const uint32_t all = zor::MS_CTS_ON | zor::MS_DSR_ON | zor::MS_RLSD_ON;
  ASSERT_EQ(StatusWhen(*line, all), all);
  uint32_t written = 0;
  ASSERT_TRUE(line->Write("V\r", 2, written));
  EXPECT_EQ(StatusWhen(*line, all & ~zor::MS_CTS_ON), all & ~zor::MS_CTS_ON) << "busy";
  EXPECT_EQ(ReadFor(*line, 2s, 1), "V");
  uint32_t status = 0;
  ASSERT_TRUE(line->ModemStatus(status));
  EXPECT_EQ(status & 0xF0, all);
  EXPECT_EQ(ReadFor(*line, 2s, 5), "0102\r");
}

TEST_F(Rfc2217Simulator, LinesDroppedAfterAReplyFollowIt) {
  zorsim::DeviceConfig config = Config();
  config.fault_hold = 300ms;
  Start(/*pacing=*/true, config);
  auto line = Open();
  ASSERT_NE(line, nullptr);
  const uint32_t all = zor::MS_CTS_ON | zor::MS_DSR_ON | zor::MS_RLSD_ON;
  struct Case {
    zorsim::FaultKind fault;
    uint32_t after;  // the lines once the reply is out
  };
  for (const Case& c : {Case{zorsim::FaultKind::HoldCts, zor::MS_DSR_ON | zor::MS_RLSD_ON},
                        Case{zorsim::FaultKind::DropDsr, 0u}}) {
    SCOPED_TRACE(static_cast<int>(c.fault));
    server_->Post([&c](zorsim::DeviceModel& model) { model.InjectFault(c.fault, 1, 'L'); });
    ASSERT_EQ(StatusWhen(*line, all), all);
    uint32_t written = 0;
    ASSERT_TRUE(line->Write("L\r", 2, written));
    std::string reply = ReadFor(*line, 2s, 1);
    uint32_t status = 0;
    ASSERT_TRUE(line->ModemStatus(status));
    EXPECT_EQ(status & 0xF0, all) << "while the reply crosses the wire";
    reply += ReadFor(*line, 2s, 2049);
    EXPECT_EQ(reply.size(), 2050u);
    EXPECT_EQ(StatusWhen(*line, c.after), c.after) << "after the reply";
    EXPECT_EQ(StatusWhen(*line, all), all) << "after the fault's hold";
  }
}

TEST_F(Rfc2217Simulator, FaultsReachTheClientAndTheNextClientIsServed) {
  Start();
  auto line = Open();
  ASSERT_NE(line, nullptr);
  server_->Post([](zorsim::DeviceModel& model) { model.InjectFault(zorsim::FaultKind::ParityError, 1, 'V'); });
  EXPECT_EQ(Exchange(*line, "V"), "V0102\r");
  EXPECT_EQ(line->ClearErrors(), zor::CE_RXPARITY);
  EXPECT_EQ(line->ClearErrors(), 0u);

  server_->Post([](zorsim::DeviceModel& model) { model.InjectFault(zorsim::FaultKind::Disconnect, 1, 'V'); });
  EXPECT_EQ(Exchange(*line, "V"), "");
  uint32_t status = 0, n = 0;
  EXPECT_FALSE(line->ModemStatus(status));
  EXPECT_FALSE(line->Write("V\r", 2, n));

  line = Open();
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(Exchange(*line, "V"), "V0102\r");
  EXPECT_EQ(server_->Settings().connections, 2u);
}

TEST_F(Rfc2217Simulator, ComPortTalksToTheDeviceOverTheNetwork) {
  Start();
  COMPort port;
  ASSERT_TRUE(port.Open(Url().c_str()));
  EXPECT_EQ(port.PortError, 0);
  bool cts = false, dsr = false, ring = true, dcd = false;
  auto deadline = Clock::now() + 2s;
  while (!(cts && dsr && dcd) && Clock::now() < deadline) ASSERT_TRUE(port.Status(cts, dsr, ring, dcd));
  EXPECT_TRUE(cts && dsr && dcd);
  EXPECT_FALSE(ring);
  ASSERT_TRUE(port.Write('V'));
  ASSERT_TRUE(port.Write('\r'));
  // The device is busy, CTS inactive, until its reply comes; DataAvailable waits for both.
  deadline = Clock::now() + 2s;
  while (!port.DataAvailable() && Clock::now() < deadline) std::this_thread::sleep_for(1ms);
  char echo = 0;
  ASSERT_TRUE(port.Read(echo, false)) << port.PortError;
  EXPECT_EQ(echo, 'V');
  char data[16];
  uint32_t count = 5;
  ASSERT_TRUE(port.Read(data, count, false, true));
  EXPECT_EQ(std::string(data, count), "0102\r");
  EXPECT_TRUE(port.Close());

  COMPort nowhere;
  const std::string closed = "rfc2217://127.0.0.1:" + std::to_string(ClosedPort());
  EXPECT_FALSE(nowhere.Open(closed.c_str()));
  EXPECT_EQ(nowhere.PortError, 2);
}

}  // namespace
