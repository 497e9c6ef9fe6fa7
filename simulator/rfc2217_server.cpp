#include "rfc2217_server.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace zorsim {

namespace {

namespace telnet = zor::telnet;
namespace cpo = zor::telnet::cpo;
using Clock = Rfc2217Server::Clock;

constexpr char kSignature[] = "zor-sim";

#ifdef MSG_NOSIGNAL
constexpr int kSendFlags = MSG_NOSIGNAL;
#else
constexpr int kSendFlags = 0;
#endif

const char* VerbName(uint8_t verb) {
  switch (verb) {
    case telnet::WILL: return "WILL";
    case telnet::WONT: return "WONT";
    case telnet::DO: return "DO";
    case telnet::DONT: return "DONT";
    default: return "?";
  }
}

std::string OptionName(uint8_t option) {
  switch (option) {
    case telnet::OPT_BINARY: return "BINARY";
    case telnet::OPT_ECHO: return "ECHO";
    case telnet::OPT_SGA: return "SGA";
    case telnet::OPT_COM_PORT: return "COM-PORT-OPTION";
    default: return "option " + std::to_string(option);
  }
}

std::string CodeName(uint8_t code) {
  static const char* const kNames[] = {
      "SIGNATURE",         "SET-BAUDRATE",       "SET-DATASIZE",        "SET-PARITY",
      "SET-STOPSIZE",      "SET-CONTROL",        "NOTIFY-LINESTATE",    "NOTIFY-MODEMSTATE",
      "FLOWCONTROL-SUSPEND", "FLOWCONTROL-RESUME", "SET-LINESTATE-MASK", "SET-MODEMSTATE-MASK",
      "PURGE-DATA"};
  const uint8_t base = code >= cpo::SERVER ? static_cast<uint8_t>(code - cpo::SERVER) : code;
  std::string name = base <= cpo::PURGE_DATA ? kNames[base] : "code " + std::to_string(code);
  return code >= cpo::SERVER ? name + " (answer)" : name;
}

std::string Hex(std::span<const uint8_t> bytes) {
  std::string text;
  char item[4];
  for (uint8_t byte : bytes) {
    std::snprintf(item, sizeof item, " %02X", byte);
    text += item;
  }
  return text;
}

uint8_t ModemBits(const ModemLines& lines) {
  return static_cast<uint8_t>((lines.dcd ? cpo::MODEM_DCD : 0) | (lines.ri ? cpo::MODEM_RI : 0) |
                              (lines.dsr ? cpo::MODEM_DSR : 0) | (lines.cts ? cpo::MODEM_CTS : 0));
}

// The change flags of a modem-state notification; RI counts only on its trailing edge.
uint8_t ModemDeltas(uint8_t state, uint8_t last) {
  const uint8_t changed = state ^ last;
  uint8_t deltas = 0;
  if (changed & cpo::MODEM_CTS) deltas |= cpo::MODEM_CTS_CHANGED;
  if (changed & cpo::MODEM_DSR) deltas |= cpo::MODEM_DSR_CHANGED;
  if (changed & cpo::MODEM_DCD) deltas |= cpo::MODEM_DCD_CHANGED;
  if ((changed & cpo::MODEM_RI) && !(state & cpo::MODEM_RI)) deltas |= cpo::MODEM_RI_TRAILING;
  return deltas;
}

uint32_t BigEndian32(std::span<const uint8_t> value) {
  return (uint32_t{value[0]} << 24) | (uint32_t{value[1]} << 16) | (uint32_t{value[2]} << 8) |
         uint32_t{value[3]};
}

// How many of the bytes of a paced run that starts crossing at first_due have arrived by now.
size_t ArrivedBy(Clock::time_point now, Clock::time_point first_due, size_t size, bool pacing) {
  if (!pacing) return size;
  if (now < first_due) return 0;
  auto more = (now - first_due) / Rfc2217Server::kCharacterTime;
  return std::min(size, static_cast<size_t>(more) + 1);
}

}  // namespace

Rfc2217Server::Rfc2217Server(DeviceModel& model, ServerOptions options)
    : model_(model), options_(std::move(options)), start_(Clock::now()) {
  if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) wake_[0] = wake_[1] = -1;
}

Rfc2217Server::~Rfc2217Server() {
  if (client_fd_ >= 0) ::close(client_fd_);
  if (listen_fd_ >= 0) ::close(listen_fd_);
  for (int fd : wake_) {
    if (fd >= 0) ::close(fd);
  }
}

bool Rfc2217Server::Listen(std::string& error) {
  if (wake_[0] < 0) {
    error = "cannot create the wake-up pipe";
    return false;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* list = nullptr;
  if (int rc = ::getaddrinfo(options_.host.c_str(), options_.port.c_str(), &hints, &list); rc != 0) {
    error = "cannot resolve " + options_.host + ":" + options_.port + ": " + ::gai_strerror(rc);
    return false;
  }
  int last_errno = 0;
  for (addrinfo* ai = list; ai != nullptr && listen_fd_ < 0; ai = ai->ai_next) {
    int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, ai->ai_protocol);
    if (fd < 0) continue;
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(fd, ai->ai_addr, ai->ai_addrlen) == 0 && ::listen(fd, 4) == 0) {
      listen_fd_ = fd;
    } else {
      last_errno = errno;
      ::close(fd);
    }
  }
  ::freeaddrinfo(list);
  if (listen_fd_ < 0) {
    error = "cannot listen on " + options_.host + ":" + options_.port + ": " + std::strerror(last_errno);
    return false;
  }
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6&>(address).sin6_port
                                              : reinterpret_cast<sockaddr_in&>(address).sin_port);
  return true;
}

std::string Rfc2217Server::Url() const {
  const bool v6 = options_.host.find(':') != std::string::npos;
  std::string host = v6 ? "[" + options_.host + "]" : options_.host;
  return "rfc2217://" + host + ":" + std::to_string(port_);
}

void Rfc2217Server::Run() {
  while (!stop_.load()) {
    RunPosted();
    Service(Clock::now());
    Flush();
    WaitForEvents(Clock::now());
  }
  CloseClient(Clock::now());
}

void Rfc2217Server::Stop() {
  stop_.store(true);
  if (::write(wake_[1], "s", 1) < 0) {
    // the pipe is full, so the loop wakes anyway
  }
}

void Rfc2217Server::Post(std::function<void(DeviceModel&)> task) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    posted_.push_back(std::move(task));
  }
  if (::write(wake_[1], "p", 1) < 0) {
    // the pipe is full, so the loop wakes anyway
  }
}

void Rfc2217Server::WatchInput(int fd, std::function<bool()> on_readable) {
  watches_.push_back(Watch{fd, std::move(on_readable)});
}

SerialSettings Rfc2217Server::Settings() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return settings_;
}

void Rfc2217Server::Publish() {
  std::lock_guard<std::mutex> lock(mutex_);
  settings_ = line_;
}

void Rfc2217Server::RunPosted() {
  std::vector<std::function<void(DeviceModel&)>> tasks;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    tasks.swap(posted_);
  }
  for (auto& task : tasks) task(model_);
}

// ---- connection ----

void Rfc2217Server::Accept(Clock::time_point now) {
  sockaddr_storage peer{};
  socklen_t length = sizeof peer;
  int fd = ::accept4(listen_fd_, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) return;
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  client_fd_ = fd;
  char host[NI_MAXHOST] = "?", service[NI_MAXSERV] = "?";
  ::getnameinfo(reinterpret_cast<sockaddr*>(&peer), length, host, sizeof host, service, sizeof service,
                NI_NUMERICHOST | NI_NUMERICSERV);
  Trace("---", std::string("client connected from ") + host + " port " + service);

  const unsigned connections = line_.connections + 1;
  line_ = SerialSettings{};
  line_.connections = connections;
  line_.connected = true;
  // The port is opened for the client, and opening a port raises DTR and RTS.
  line_.dtr = line_.rts = true;
  model_.SetHostLines(true, true, now);
  Publish();

  telnet_options_ = telnet::Options{};
  telnet_options_.Support(telnet::OPT_BINARY, true, true);
  telnet_options_.Support(telnet::OPT_SGA, true, true);
  telnet_options_.Support(telnet::OPT_COM_PORT, true, true);
  uint8_t out[4 * telnet::kNegotiationSize];
  size_t n = 0;
  n += telnet_options_.Request(telnet::WILL, telnet::OPT_BINARY, out + n);
  n += telnet_options_.Request(telnet::DO, telnet::OPT_BINARY, out + n);
  n += telnet_options_.Request(telnet::WILL, telnet::OPT_SGA, out + n);
  n += telnet_options_.Request(telnet::DO, telnet::OPT_SGA, out + n);
  Trace("dev>", "WILL BINARY, DO BINARY, WILL SGA, DO SGA");
  SendCommand(std::string(reinterpret_cast<char*>(out), n));
}

void Rfc2217Server::CloseClient(Clock::time_point now) {
  if (client_fd_ < 0) return;
  ::close(client_fd_);
  client_fd_ = -1;
  Trace("---", "connection closed");
  parser_.Reset();
  com_port_ = false;
  modem_mask_ = 0xFF;
  line_mask_ = 0;
  suspended_ = false;
  break_on_ = false;
  inbound_flow_ = 14;
  last_lines_ = -1;
  to_device_.clear();
  to_host_.clear();
  socket_out_.clear();
  line_.connected = line_.com_port = false;
  line_.dtr = line_.rts = false;
  model_.SetHostLines(false, false, now);
  Publish();
}

void Rfc2217Server::DropClient() {
  Flush();
  CloseClient(Clock::now());
}

void Rfc2217Server::ReceiveFromClient(Clock::time_point now) {
  uint8_t buffer[4096];
  ssize_t got = ::recv(client_fd_, buffer, sizeof buffer, 0);
  if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
  if (got <= 0) {
    CloseClient(now);
    return;
  }
  std::string data;
  const auto pass_data = [&] {
    if (data.empty()) return;
    TraceBytes("host>", data);
    if (to_device_.empty()) to_device_due_ = now + kCharacterTime;
    to_device_ += data;
    data.clear();
  };
  for (ssize_t i = 0; i < got && client_fd_ >= 0; ++i) {
    switch (parser_.Feed(buffer[i])) {
      case telnet::Parser::Event::Data:
        data.push_back(static_cast<char>(parser_.data()));
        break;
      case telnet::Parser::Event::Negotiation:
        pass_data();
        Negotiate(parser_.verb(), parser_.option(), now);
        break;
      case telnet::Parser::Event::Subnegotiation: {
        pass_data();
        auto sub = parser_.subnegotiation();
        if (sub.size() >= 2 && sub[0] == telnet::OPT_COM_PORT) {
          ComPort(sub[1], sub.subspan(2), now);
        } else {
          Trace("host>", "subnegotiation ignored:" + Hex(sub));
        }
        break;
      }
      case telnet::Parser::Event::Command:
        Trace("host>", "Telnet command " + std::to_string(parser_.verb()) + " ignored");
        break;
      case telnet::Parser::Event::None:
        break;
    }
  }
  pass_data();
}

// ---- device side ----

void Rfc2217Server::Service(Clock::time_point now) {
  DeliverToDevice(now);
  std::string output = model_.TakeOutput(now);
  const bool parity_error = model_.TakeParityError();
  if (model_.TakeDisconnect()) {
    Trace("---", "the device drops the connection");
    DropClient();
    return;
  }
  if (client_fd_ < 0) return;  // a device talking to nobody
  if (output.empty()) {
    NotifyLines(now, false);
  } else {
    // A device raises its lines before it answers and drops them after the answer is out, so
    // changes due with a reply go out on both sides of it.
    const uint8_t state = ModemBits(model_.Lines(now));
    if (com_port_ && last_lines_ >= 0) NotifyState(static_cast<uint8_t>(last_lines_ | state), false);
    // The error is known when the faulty bytes are read, so it goes ahead of them.
    if (parity_error && com_port_ && (line_mask_ & cpo::LINE_PARITY)) {
      Trace("dev>", "NOTIFY-LINESTATE parity error");
      Answer(cpo::SERVER + cpo::NOTIFY_LINESTATE, cpo::LINE_PARITY);
    }
    QueueData(std::move(output), now);
    NotifyState(state, false);
  }
  ReleaseOutput(now);
}

void Rfc2217Server::DeliverToDevice(Clock::time_point now) {
  if (to_device_.empty()) return;
  const size_t n = ArrivedBy(now, to_device_due_, to_device_.size(), options_.pacing);
  if (n == 0) return;
  model_.Receive(std::string_view(to_device_).substr(0, n), now);
  to_device_.erase(0, n);
  to_device_due_ += static_cast<long>(n) * kCharacterTime;
}

void Rfc2217Server::NotifyLines(Clock::time_point now, bool force) {
  NotifyState(ModemBits(model_.Lines(now)), force);
}

void Rfc2217Server::NotifyState(uint8_t state, bool force) {
  if (!com_port_) return;
  const uint8_t last = last_lines_ < 0 ? 0 : static_cast<uint8_t>(last_lines_);
  const uint8_t deltas = ModemDeltas(state, last);
  const bool changed = ((state ^ last) | deltas) & modem_mask_;
  last_lines_ = state;
  if (!force && !changed) return;
  const auto value = static_cast<uint8_t>((state | deltas) & modem_mask_);
  char text[80];
  std::snprintf(text, sizeof text, "NOTIFY-MODEMSTATE %02X:%s%s%s%s", value, (state & cpo::MODEM_CTS) ? " CTS" : "",
                (state & cpo::MODEM_DSR) ? " DSR" : "", (state & cpo::MODEM_DCD) ? " DCD" : "",
                (state & cpo::MODEM_RI) ? " RI" : "");
  Trace("dev>", text);
  Answer(cpo::SERVER + cpo::NOTIFY_MODEMSTATE, value);
}

void Rfc2217Server::QueueData(std::string bytes, Clock::time_point now) {
  Clock::time_point first_due = now;
  if (options_.pacing) {
    first_due = std::max(now, wire_free_) + kCharacterTime;
    wire_free_ = first_due + static_cast<long>(bytes.size() - 1) * kCharacterTime;
  }
  to_host_.push_back(Segment{true, std::move(bytes), first_due, 0, std::nullopt});
}

// Moves what is due, in order, into the socket's buffer: commands at once, data as it crosses
// the wire, nothing behind held data.
void Rfc2217Server::ReleaseOutput(Clock::time_point now) {
  while (!to_host_.empty()) {
    Segment& segment = to_host_.front();
    if (!segment.data) {
      socket_out_ += segment.bytes;
      to_host_.pop_front();
      continue;
    }
    if (suspended_) return;
    const size_t due = DueBytes(segment, now);
    if (due > segment.released) {
      if (!segment.first_sent) segment.first_sent = now;
      std::string_view bytes = std::string_view(segment.bytes).substr(segment.released, due - segment.released);
      TraceBytes("dev>", bytes);
      std::string escaped(2 * bytes.size(), '\0');
      size_t n = telnet::EscapeData({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()},
                                    reinterpret_cast<uint8_t*>(escaped.data()));
      socket_out_.append(escaped, 0, n);
      segment.released = due;
    }
    if (segment.released < segment.bytes.size()) return;
    to_host_.pop_front();
  }
}

// The bytes of a data segment out by now: as the wire schedule allows, and never closer together
// than a character time from the first one actually sent.
size_t Rfc2217Server::DueBytes(const Segment& segment, Clock::time_point now) const {
  size_t due = ArrivedBy(now, segment.first_due, segment.bytes.size(), options_.pacing);
  if (options_.pacing) {
    const size_t spaced = segment.first_sent ? ArrivedBy(now, *segment.first_sent, segment.bytes.size(), true) : 1;
    due = std::min(due, spaced);
  }
  return due;
}

Clock::time_point Rfc2217Server::NextRelease(const Segment& segment) const {
  const auto offset = static_cast<long>(segment.released) * kCharacterTime;
  Clock::time_point next = segment.first_due + offset;
  if (segment.first_sent) next = std::max(next, *segment.first_sent + offset);
  return next;
}

void Rfc2217Server::Flush() {
  while (client_fd_ >= 0 && !socket_out_.empty()) {
    ssize_t sent = ::send(client_fd_, socket_out_.data(), socket_out_.size(), kSendFlags);
    if (sent > 0) {
      socket_out_.erase(0, static_cast<size_t>(sent));
    } else if (sent < 0 && errno == EINTR) {
      continue;
    } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      return;
    } else {
      CloseClient(Clock::now());
    }
  }
}

// ---- Telnet and COM-PORT-OPTION ----

void Rfc2217Server::Negotiate(uint8_t verb, uint8_t option, Clock::time_point now) {
  Trace("host>", std::string(VerbName(verb)) + " " + OptionName(option));
  uint8_t answer[telnet::kNegotiationSize];
  if (size_t n = telnet_options_.Receive(verb, option, answer); n > 0) {
    Trace("dev>", std::string(VerbName(answer[1])) + " " + OptionName(option));
    SendCommand(std::string(reinterpret_cast<char*>(answer), n));
  }
  const bool agreed = telnet_options_.Remote(telnet::OPT_COM_PORT) || telnet_options_.Local(telnet::OPT_COM_PORT);
  if (agreed && !com_port_) {
    com_port_ = line_.com_port = true;
    Publish();
    NotifyLines(now, true);  // the client learns the lines at once
  }
}

void Rfc2217Server::ComPort(uint8_t code, std::span<const uint8_t> value, Clock::time_point now) {
  Trace("host>", CodeName(code) + Hex(value));
  const uint8_t v = value.empty() ? 0 : value[0];
  switch (code) {
    case cpo::SIGNATURE:
      if (value.empty()) {
        Answer(cpo::SERVER + cpo::SIGNATURE,
               {reinterpret_cast<const uint8_t*>(kSignature), sizeof kSignature - 1});
      }
      break;
    case cpo::SET_BAUDRATE: {
      if (value.size() == 4 && BigEndian32(value) != 0) line_.baud_rate = BigEndian32(value);
      const uint32_t b = line_.baud_rate;
      const uint8_t answer[] = {static_cast<uint8_t>(b >> 24), static_cast<uint8_t>(b >> 16),
                                static_cast<uint8_t>(b >> 8), static_cast<uint8_t>(b)};
      Answer(cpo::SERVER + cpo::SET_BAUDRATE, answer);
      break;
    }
    case cpo::SET_DATASIZE:
      if (v >= 5 && v <= 8) line_.data_size = v;
      Answer(cpo::SERVER + cpo::SET_DATASIZE, line_.data_size);
      break;
    case cpo::SET_PARITY:
      if (v >= 1 && v <= 5) line_.parity = v;
      Answer(cpo::SERVER + cpo::SET_PARITY, line_.parity);
      break;
    case cpo::SET_STOPSIZE:
      if (v >= 1 && v <= 3) line_.stop_size = v;
      Answer(cpo::SERVER + cpo::SET_STOPSIZE, line_.stop_size);
      break;
    case cpo::SET_CONTROL:
      if (!value.empty()) SetControl(v, now);
      break;
    case cpo::NOTIFY_LINESTATE:  // a poll: no line error is pending between notifications
      Answer(cpo::SERVER + cpo::NOTIFY_LINESTATE, uint8_t{0});
      break;
    case cpo::NOTIFY_MODEMSTATE:
      NotifyLines(now, true);
      break;
    case cpo::FLOWCONTROL_SUSPEND:
    case cpo::FLOWCONTROL_RESUME:
      suspended_ = code == cpo::FLOWCONTROL_SUSPEND;
      break;
    case cpo::SET_LINESTATE_MASK:
      line_mask_ = v;
      Answer(cpo::SERVER + cpo::SET_LINESTATE_MASK, v);
      break;
    case cpo::SET_MODEMSTATE_MASK:
      modem_mask_ = v;
      Answer(cpo::SERVER + cpo::SET_MODEMSTATE_MASK, v);
      NotifyLines(now, true);
      break;
    case cpo::PURGE_DATA:
      Purge(v);
      break;
    default:
      break;
  }
  Publish();
}

void Rfc2217Server::SetControl(uint8_t value, Clock::time_point now) {
  uint8_t answer = value;
  switch (value) {
    case cpo::FLOW_ASK: answer = line_.flow; break;
    case cpo::FLOW_NONE:
    case cpo::FLOW_XONXOFF:
    case cpo::FLOW_HARDWARE: line_.flow = value; break;
    case cpo::BREAK_ASK: answer = break_on_ ? cpo::BREAK_ON : cpo::BREAK_OFF; break;
    case cpo::BREAK_ON:
    case cpo::BREAK_OFF: break_on_ = value == cpo::BREAK_ON; break;
    case cpo::DTR_ASK: answer = line_.dtr ? cpo::DTR_ON : cpo::DTR_OFF; break;
    case cpo::RTS_ASK: answer = line_.rts ? cpo::RTS_ON : cpo::RTS_OFF; break;
    case cpo::DTR_ON:
    case cpo::DTR_OFF:
    case cpo::RTS_ON:
    case cpo::RTS_OFF:
      if (value == cpo::DTR_ON || value == cpo::DTR_OFF) line_.dtr = value == cpo::DTR_ON;
      if (value == cpo::RTS_ON || value == cpo::RTS_OFF) line_.rts = value == cpo::RTS_ON;
      model_.SetHostLines(line_.dtr, line_.rts, now);
      break;
    case 13: answer = inbound_flow_; break;  // ask the inbound flow control
    case 14:
    case 15:
    case 16: inbound_flow_ = value; break;
    case 17:
    case 18:
    case 19: break;  // DCD, DTR and DSR flow control: accepted, as nothing flows back anyway
    default: return;
  }
  Answer(cpo::SERVER + cpo::SET_CONTROL, answer);
}

void Rfc2217Server::Purge(uint8_t value) {
  if (value < cpo::PURGE_RECEIVE || value > cpo::PURGE_BOTH) return;
  if (value & cpo::PURGE_RECEIVE) {  // what the device sent and the client has not got
    std::erase_if(to_host_, [](const Segment& segment) { return segment.data; });
    wire_free_ = Clock::time_point{};
  }
  if (value & cpo::PURGE_TRANSMIT) to_device_.clear();
  model_.Purge();
  Answer(cpo::SERVER + cpo::PURGE_DATA, value);
}

void Rfc2217Server::SendCommand(std::string bytes) { to_host_.push_back(Segment{false, std::move(bytes), {}, 0, std::nullopt}); }

void Rfc2217Server::Answer(uint8_t code, std::span<const uint8_t> value) {
  std::string out(telnet::SubnegotiationSize(1 + value.size()), '\0');
  out.resize(telnet::EncodeComPort(code, value, reinterpret_cast<uint8_t*>(out.data())));
  if (code != cpo::SERVER + cpo::NOTIFY_MODEMSTATE && code != cpo::SERVER + cpo::NOTIFY_LINESTATE) {
    Trace("dev>", CodeName(code) + Hex(value));
  }
  SendCommand(std::move(out));
}

// ---- waiting ----

Clock::time_point Rfc2217Server::NextWake(Clock::time_point now) const {
  Clock::time_point next = now + std::chrono::seconds(1);
  const auto consider = [&next](Clock::time_point t) { next = std::min(next, t); };
  if (auto event = model_.NextEvent()) consider(*event);
  if (!to_device_.empty()) consider(to_device_due_);
  if (!to_host_.empty()) {
    const Segment& head = to_host_.front();
    if (!head.data) {
      consider(now);
    } else if (!suspended_) {
      consider(NextRelease(head));
    }
  }
  return next;
}

void Rfc2217Server::WaitForEvents(Clock::time_point now) {
  std::vector<pollfd> fds;
  fds.push_back({wake_[0], POLLIN, 0});
  const bool connected = client_fd_ >= 0;
  // One client at a time: the next waits in the backlog until this one has gone.
  fds.push_back({connected ? client_fd_ : listen_fd_,
                 static_cast<short>(POLLIN | (connected && !socket_out_.empty() ? POLLOUT : 0)), 0});
  for (const Watch& watch : watches_) fds.push_back({watch.fd, POLLIN, 0});

  auto wait = std::max(NextWake(now) - now, Clock::duration::zero());
  auto seconds = std::chrono::duration_cast<std::chrono::seconds>(wait);
  timespec timeout{static_cast<time_t>(seconds.count()),
                   static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(wait - seconds).count())};
  if (::ppoll(fds.data(), fds.size(), &timeout, nullptr) <= 0) return;

  if (fds[0].revents & POLLIN) {
    char drain[64];
    while (::read(wake_[0], drain, sizeof drain) > 0) {
    }
  }
  const short ready = fds[1].revents;
  if (!connected && (ready & POLLIN)) {
    Accept(Clock::now());
  } else if (connected) {
    if (ready & POLLOUT) Flush();
    if (ready & (POLLIN | POLLHUP | POLLERR)) ReceiveFromClient(Clock::now());
  }
  for (size_t i = watches_.size(); i-- > 0;) {
    if ((fds[2 + i].revents & (POLLIN | POLLHUP | POLLERR)) && !watches_[i].on_readable()) {
      watches_.erase(watches_.begin() + static_cast<long>(i));
    }
  }
}

// ---- trace ----

void Rfc2217Server::Trace(const char* direction, const std::string& text) const {
  if (options_.trace == nullptr) return;
  const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
  std::fprintf(options_.trace, "%11.6f %-5s %s\n", seconds, direction, text.c_str());
  std::fflush(options_.trace);
}

void Rfc2217Server::TraceBytes(const char* direction, std::string_view bytes) const {
  if (options_.trace == nullptr) return;
  for (size_t at = 0; at < bytes.size(); at += 16) {
    std::string_view piece = bytes.substr(at, 16);
    std::string ascii;
    for (char c : piece) ascii += (c >= 0x20 && c < 0x7F) ? c : '.';
    Trace(direction, "data" + Hex({reinterpret_cast<const uint8_t*>(piece.data()), piece.size()}) + "  |" +
                         ascii + "|");
  }
}

}  // namespace zorsim
