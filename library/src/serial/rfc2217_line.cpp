#include "rfc2217_line.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "socket.h"
#include "telnet_codec.h"

namespace zor {

namespace {

using Clock = std::chrono::steady_clock;
namespace cpo = telnet::cpo;

// NOTIFY-MODEMSTATE carries the status lines in the same bits as GetCommModemStatus.
static_assert(cpo::MODEM_CTS == MS_CTS_ON && cpo::MODEM_DSR == MS_DSR_ON &&
              cpo::MODEM_RI == MS_RING_ON && cpo::MODEM_DCD == MS_RLSD_ON);

constexpr char kTerminator = 0x0D;

bool HasTerminator(const char* data, uint32_t count) {
  return std::memchr(data, kTerminator, count) != nullptr;
}

constexpr uint8_t kModemStateMask = 0xFF;  // with the change flags, so a drop to all-off is told too
constexpr uint8_t kLineStateMask =
    cpo::LINE_BREAK | cpo::LINE_FRAMING | cpo::LINE_PARITY | cpo::LINE_OVERRUN;

int RemainingMs(Clock::time_point deadline) {
  auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

uint32_t LineErrors(uint8_t line_state) {
  uint32_t errors = 0;
  if (line_state & cpo::LINE_PARITY) errors |= CE_RXPARITY;
  if (line_state & cpo::LINE_FRAMING) errors |= CE_FRAME;
  if (line_state & cpo::LINE_OVERRUN) errors |= CE_OVERRUN;
  if (line_state & cpo::LINE_BREAK) errors |= CE_BREAK;
  return errors;
}

bool ParsePort(const char* text, std::string& port) {
  if (*text == '\0' || std::strlen(text) > 5) return false;
  unsigned value = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return false;
    value = value * 10 + static_cast<unsigned>(*p - '0');
  }
  if (value == 0 || value > 65535) return false;
  port = std::to_string(value);
  return true;
}

class Rfc2217Line final : public Line {
public:
  Rfc2217Line(net::Socket socket, const Rfc2217Timing& timing)
      : timing_(timing), socket_(std::move(socket)) {}

  // Our option requests go out before anything the server sent is looked at.
  bool Start();

  bool GetState() override;
  bool SetState() override;
  bool SetTimeouts(Timeouts set) override;
  bool Purge() override;
  bool Read(char* data, uint32_t count, uint32_t& received) override;
  bool ReadToTerminator(char* data, uint32_t count, uint32_t& received) override;
  bool Write(const char* data, uint32_t count, uint32_t& written) override;
  uint32_t ClearErrors() override;
  bool EscapeFunction(Escape function) override;
  bool ModemStatus(uint32_t& status) override;
  bool WaitEvent(uint32_t& mask) override;
  bool Close() override;

private:
  // The answers counted per setting, so a wait knows when its acknowledgement came.
  enum Ack { kBaud, kDataSize, kParity, kStopSize, kFlow, kDtr, kRts, kPurge, kAckCount };
  enum class Acking { Unknown, Yes, No };
  enum class Agreement { Pending, Agreed, Refused };

  bool ReadBytes(char* data, uint32_t count, uint32_t& received, bool to_terminator);
  bool Drain();
  template <typename Done>
  bool PumpUntil(Clock::time_point deadline, Done done);
  void Process(const uint8_t* bytes, size_t size);
  void Negotiate(uint8_t verb, uint8_t option);
  void Subnegotiation(std::span<const uint8_t> sub);
  void CountControlAck(uint8_t value);
  bool SendAll(const uint8_t* data, size_t size);
  bool SendComPort(uint8_t code, std::span<const uint8_t> value);
  bool Acknowledged(uint8_t code, uint8_t value, Ack ack);
  void Enqueue(uint8_t byte);
  // With to_terminator it stops after the first carriage return; what is behind it stays queued.
  uint32_t Dequeue(char* data, uint32_t count, bool to_terminator);
  void ClearQueue();
  void NotifyModemState(uint8_t state);
  void ApplyDueModemStates();

  Rfc2217Timing timing_;
  net::Socket socket_;
  telnet::Parser parser_;
  telnet::Options options_;
  Agreement agreement_ = Agreement::Pending;
  bool broken_ = false;
  Timeouts timeouts_ = Timeouts::Normal;
  bool modem_known_ = false;
  uint8_t modem_state_ = 0;
  uint32_t line_errors_ = 0;
  bool discard_data_ = false;  // between a purge request and its acknowledgement
  std::array<uint32_t, kAckCount> acks_{};
  std::array<Acking, kAckCount> acking_{};

  // A modem state told after data bytes that are not read yet takes effect once they are read,
  // or after kStateHold at the latest: the reader sees the lines as they were when its bytes were
  // sent, as on a serial line, where a reply is read while it arrives. Over TCP a notice of lines
  // dropped after a reply could otherwise overtake the reading of that reply. The bound keeps
  // bytes nobody reads (a surplus byte before a purge) from holding the lines back.
  struct PendingState {
    uint64_t after;  // the count of data bytes received before it
    uint8_t state;
    Clock::time_point arrived;
  };
  static constexpr std::chrono::milliseconds kStateHold{50};
  static constexpr size_t kPendingStates = 32;
  std::array<PendingState, kPendingStates> pending_states_{};
  size_t pending_head_ = 0;
  size_t pending_count_ = 0;
  uint64_t bytes_in_ = 0;   // data bytes queued so far
  uint64_t bytes_out_ = 0;  // data bytes read or purged so far

  static constexpr size_t kQueueSize = 65536;
  static constexpr size_t kWriteChunk = 2048;
  size_t queue_head_ = 0;
  size_t queue_count_ = 0;
  uint8_t queue_[kQueueSize];
  uint8_t raw_[4096];
  uint8_t tx_[2 * kWriteChunk];
};

bool Rfc2217Line::Start() {
  // Some servers offer COM-PORT-OPTION themselves instead of agreeing to ours; that is accepted.
  options_.Support(telnet::OPT_COM_PORT, true, true);
  options_.Support(telnet::OPT_BINARY, true, true);
  options_.Support(telnet::OPT_SGA, true, true);
  uint8_t out[5 * telnet::kNegotiationSize];
  size_t n = 0;
  n += options_.Request(telnet::WILL, telnet::OPT_COM_PORT, out + n);
  n += options_.Request(telnet::WILL, telnet::OPT_BINARY, out + n);
  n += options_.Request(telnet::DO, telnet::OPT_BINARY, out + n);
  n += options_.Request(telnet::WILL, telnet::OPT_SGA, out + n);
  n += options_.Request(telnet::DO, telnet::OPT_SGA, out + n);
  return SendAll(out, n);
}

bool Rfc2217Line::GetState() {
  PumpUntil(Clock::now() + timing_.negotiation, [this] { return agreement_ != Agreement::Pending; });
  return agreement_ == Agreement::Agreed && !broken_;
}

bool Rfc2217Line::SetState() {
  if (agreement_ != Agreement::Agreed) return false;
  const uint8_t baud[] = {0x00, 0x03, 0x84, 0x00};  // 230400, big-endian
  const uint8_t data_size = 8, parity = cpo::PARITY_EVEN, stop_size = cpo::STOPSIZE_ONE;
  const uint8_t flow = cpo::FLOW_NONE, line_mask = kLineStateMask, modem_mask = kModemStateMask;
  auto before = acks_;
  uint8_t out[7 * telnet::kMaxComPortCommand];
  size_t n = 0;
  n += telnet::EncodeComPort(cpo::SET_BAUDRATE, baud, out + n);
  n += telnet::EncodeComPort(cpo::SET_DATASIZE, {&data_size, 1}, out + n);
  n += telnet::EncodeComPort(cpo::SET_PARITY, {&parity, 1}, out + n);
  n += telnet::EncodeComPort(cpo::SET_STOPSIZE, {&stop_size, 1}, out + n);
  n += telnet::EncodeComPort(cpo::SET_CONTROL, {&flow, 1}, out + n);
  // Not every server answers the masks (some answer with the current state), so none is awaited.
  n += telnet::EncodeComPort(cpo::SET_LINESTATE_MASK, {&line_mask, 1}, out + n);
  n += telnet::EncodeComPort(cpo::SET_MODEMSTATE_MASK, {&modem_mask, 1}, out + n);
  if (!SendAll(out, n)) return false;
  return PumpUntil(Clock::now() + timing_.settings, [&] {
    for (Ack ack : {kBaud, kDataSize, kParity, kStopSize, kFlow}) {
      if (acks_[ack] == before[ack]) return false;
    }
    return true;
  });
}

bool Rfc2217Line::SetTimeouts(Timeouts set) {
  timeouts_ = set;
  return !broken_;
}

bool Rfc2217Line::Purge() {
  ClearQueue();
  const uint8_t both = cpo::PURGE_BOTH;
  if (acking_[kPurge] == Acking::No) {
    if (!SendComPort(cpo::PURGE_DATA, {&both, 1})) return false;
    Drain();
    ClearQueue();
    return !broken_;
  }
  // What the server sent before it purged arrives ahead of its acknowledgement.
  discard_data_ = true;
  bool ok = Acknowledged(cpo::PURGE_DATA, both, kPurge);
  discard_data_ = false;
  ClearQueue();
  return ok;
}

bool Rfc2217Line::Read(char* data, uint32_t count, uint32_t& received) {
  return ReadBytes(data, count, received, false);
}

bool Rfc2217Line::ReadToTerminator(char* data, uint32_t count, uint32_t& received) {
  return ReadBytes(data, count, received, true);
}

bool Rfc2217Line::ReadBytes(char* data, uint32_t count, uint32_t& received, bool to_terminator) {
  Drain();
  received = Dequeue(data, count, to_terminator);
  bool ended = to_terminator && HasTerminator(data, received);
  if (timeouts_ == Timeouts::Poll || received == count || ended) return received > 0 || !broken_;
  // As a serial port's read time-out: the whole read is bounded, trickling bytes do not stretch it.
  const auto deadline = Clock::now() + timing_.read_interval;
  while (received < count && !ended && !broken_) {
    int ms = RemainingMs(deadline);
    if (ms == 0) break;
    int ready = socket_.Wait(net::Socket::kReadable, ms);
    if (ready < 0) {
      broken_ = true;
    } else if (ready != 0) {
      Drain();
      const uint32_t got = Dequeue(data + received, count - received, to_terminator);
      ended = to_terminator && HasTerminator(data + received, got);
      received += got;
    }
  }
  return received > 0 || !broken_;
}

bool Rfc2217Line::Write(const char* data, uint32_t count, uint32_t& written) {
  written = 0;
  if (!Drain()) return false;
  const auto* bytes = reinterpret_cast<const uint8_t*>(data);
  while (written < count) {
    size_t chunk = std::min<size_t>(kWriteChunk, count - written);
    size_t n = telnet::EscapeData({bytes + written, chunk}, tx_);
    if (!SendAll(tx_, n)) return false;
    written += static_cast<uint32_t>(chunk);
  }
  return true;
}

uint32_t Rfc2217Line::ClearErrors() {
  Drain();
  uint32_t errors = line_errors_;
  line_errors_ = 0;
  return errors;
}

bool Rfc2217Line::EscapeFunction(Escape function) {
  switch (function) {
    case Escape::SetRts: return Acknowledged(cpo::SET_CONTROL, cpo::RTS_ON, kRts);
    case Escape::ClrRts: return Acknowledged(cpo::SET_CONTROL, cpo::RTS_OFF, kRts);
    case Escape::SetDtr: return Acknowledged(cpo::SET_CONTROL, cpo::DTR_ON, kDtr);
    case Escape::ClrDtr: return Acknowledged(cpo::SET_CONTROL, cpo::DTR_OFF, kDtr);
  }
  return false;
}

bool Rfc2217Line::ModemStatus(uint32_t& status) {
  if (!Drain()) return false;
  ApplyDueModemStates();
  // Until the server has told the lines, none counts as active.
  status = modem_known_ ? (modem_state_ & (MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON)) : 0;
  return true;
}

bool Rfc2217Line::WaitEvent(uint32_t& mask) {
  // Writes return once the socket has taken every byte, so the transmit side is always empty here.
  if (!Drain()) return false;
  mask &= EV_TXEMPTY;
  return true;
}

bool Rfc2217Line::Close() {
  socket_.Close();
  broken_ = true;
  return true;
}

// Sends a command and waits a short bound for its acknowledgement. A server that never
// acknowledges this kind of command is not waited for again; only a broken connection fails.
bool Rfc2217Line::Acknowledged(uint8_t code, uint8_t value, Ack ack) {
  uint32_t before = acks_[ack];
  if (!SendComPort(code, {&value, 1})) return false;
  // A server that leaves DTR changes unanswered does the same with RTS.
  Acking& acking = acking_[ack == kRts ? kDtr : ack];
  if (acking == Acking::No) return Drain();
  bool acked = PumpUntil(Clock::now() + timing_.control, [&] { return acks_[ack] != before; });
  if (broken_) return false;
  acking = acked ? Acking::Yes : Acking::No;
  return true;
}

bool Rfc2217Line::Drain() {
  // Bounded, so a peer that never stops sending cannot hold the caller here.
  for (int round = 0; round < 16 && !broken_; ++round) {
    size_t got = 0;
    net::Socket::Io io = socket_.Receive(raw_, sizeof raw_, got);
    if (io == net::Socket::Io::WouldBlock) break;
    if (io != net::Socket::Io::Ok) {
      broken_ = true;
      break;
    }
    Process(raw_, got);
    if (got < sizeof raw_) break;
  }
  return !broken_;
}

template <typename Done>
bool Rfc2217Line::PumpUntil(Clock::time_point deadline, Done done) {
  for (;;) {
    Drain();
    if (done()) return true;
    int ms = RemainingMs(deadline);
    if (broken_ || ms == 0) return false;
    if (socket_.Wait(net::Socket::kReadable, ms) < 0) broken_ = true;
  }
}

void Rfc2217Line::Process(const uint8_t* bytes, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    switch (parser_.Feed(bytes[i])) {
      case telnet::Parser::Event::Data:
        if (!discard_data_) Enqueue(parser_.data());
        break;
      case telnet::Parser::Event::Negotiation:
        Negotiate(parser_.verb(), parser_.option());
        break;
      case telnet::Parser::Event::Subnegotiation:
        Subnegotiation(parser_.subnegotiation());
        break;
      case telnet::Parser::Event::Command:  // NOP, GA and the like mean nothing to a serial line
      case telnet::Parser::Event::None:
        break;
    }
  }
}

void Rfc2217Line::Negotiate(uint8_t verb, uint8_t option) {
  uint8_t answer[telnet::kNegotiationSize];
  size_t n = options_.Receive(verb, option, answer);
  if (n > 0) SendAll(answer, n);
  if (option != telnet::OPT_COM_PORT) return;
  if (verb == telnet::DONT) {
    agreement_ = Agreement::Refused;
  } else if (verb == telnet::DO || (verb == telnet::WILL && agreement_ == Agreement::Pending)) {
    agreement_ = Agreement::Agreed;
  }
}

void Rfc2217Line::Subnegotiation(std::span<const uint8_t> sub) {
  if (sub.size() < 3 || sub[0] != telnet::OPT_COM_PORT || sub[1] < cpo::SERVER) return;
  const uint8_t value = sub[2];
  switch (sub[1] - cpo::SERVER) {
    case cpo::SET_BAUDRATE: ++acks_[kBaud]; break;
    case cpo::SET_DATASIZE: ++acks_[kDataSize]; break;
    case cpo::SET_PARITY: ++acks_[kParity]; break;
    case cpo::SET_STOPSIZE: ++acks_[kStopSize]; break;
    case cpo::SET_CONTROL: CountControlAck(value); break;
    case cpo::NOTIFY_LINESTATE: line_errors_ |= LineErrors(value); break;
    case cpo::NOTIFY_MODEMSTATE:
      NotifyModemState(value);
      break;
    case cpo::PURGE_DATA:
      ++acks_[kPurge];
      discard_data_ = false;
      break;
    default: break;  // signature, mask echoes, flow-control suspend and resume
  }
}

// The acknowledgement tells by its value which control it answers, and may carry another
// value than asked (the one in force).
void Rfc2217Line::CountControlAck(uint8_t value) {
  if (value <= cpo::FLOW_HARDWARE) {
    ++acks_[kFlow];
  } else if (value >= cpo::DTR_ASK && value <= cpo::DTR_OFF) {
    ++acks_[kDtr];
  } else if (value >= cpo::RTS_ASK && value <= cpo::RTS_OFF) {
    ++acks_[kRts];
  }
}

bool Rfc2217Line::SendComPort(uint8_t code, std::span<const uint8_t> value) {
  uint8_t out[telnet::kMaxComPortCommand];
  return SendAll(out, telnet::EncodeComPort(code, value, out));
}

bool Rfc2217Line::SendAll(const uint8_t* data, size_t size) {
  auto deadline = Clock::now() + timing_.write_stall;
  while (size > 0 && !broken_) {
    size_t sent = 0;
    net::Socket::Io io = socket_.Send(data, size, sent);
    if (io == net::Socket::Io::Ok) {
      data += sent;
      size -= sent;
    } else if (io != net::Socket::Io::WouldBlock) {
      broken_ = true;
    } else {
      // A stalled peer would leave half a command in the stream: the connection is given up.
      int ms = RemainingMs(deadline);
      if (ms == 0 || socket_.Wait(net::Socket::kWritable, ms) < 0) broken_ = true;
    }
  }
  return !broken_;
}

void Rfc2217Line::Enqueue(uint8_t byte) {
  if (queue_count_ == kQueueSize) {
    line_errors_ |= CE_RXOVER;  // as a driver whose receive queue is full
    return;
  }
  queue_[(queue_head_ + queue_count_) % kQueueSize] = byte;
  ++queue_count_;
  ++bytes_in_;
}

void Rfc2217Line::ClearQueue() {
  queue_head_ = queue_count_ = 0;
  bytes_out_ = bytes_in_;
  ApplyDueModemStates();
}

void Rfc2217Line::NotifyModemState(uint8_t state) {
  if (queue_count_ == 0) {
    modem_state_ = state;
    modem_known_ = true;
    return;
  }
  if (pending_count_ == kPendingStates) {  // a flood of notices: the oldest takes effect now
    modem_state_ = pending_states_[pending_head_].state;
    modem_known_ = true;
    pending_head_ = (pending_head_ + 1) % kPendingStates;
    --pending_count_;
  }
  pending_states_[(pending_head_ + pending_count_) % kPendingStates] = {bytes_in_, state, Clock::now()};
  ++pending_count_;
}

void Rfc2217Line::ApplyDueModemStates() {
  const auto held_since = Clock::now() - kStateHold;
  while (pending_count_ > 0 && (pending_states_[pending_head_].after <= bytes_out_ ||
                                pending_states_[pending_head_].arrived <= held_since)) {
    modem_state_ = pending_states_[pending_head_].state;
    modem_known_ = true;
    pending_head_ = (pending_head_ + 1) % kPendingStates;
    --pending_count_;
  }
}

uint32_t Rfc2217Line::Dequeue(char* data, uint32_t count, bool to_terminator) {
  uint32_t n = 0;
  bool ended = false;
  while (n < count && queue_count_ > 0 && !ended) {
    size_t run = std::min<size_t>({count - n, queue_count_, kQueueSize - queue_head_});
    const uint8_t* from = queue_ + queue_head_;
    const void* terminator = to_terminator ? std::memchr(from, kTerminator, run) : nullptr;
    if (terminator != nullptr) {
      run = static_cast<size_t>(static_cast<const uint8_t*>(terminator) - from) + 1;
      ended = true;
    }
    std::memcpy(data + n, from, run);
    n += static_cast<uint32_t>(run);
    queue_head_ = (queue_head_ + run) % kQueueSize;
    queue_count_ -= run;
  }
  bytes_out_ += n;
  ApplyDueModemStates();
  return n;
}

}  // namespace

bool IsRfc2217Name(const char* name) {
  return name != nullptr && std::strncmp(name, kRfc2217Prefix, sizeof kRfc2217Prefix - 1) == 0;
}

bool ParseRfc2217Name(const char* name, std::string& host, std::string& port) {
  if (!IsRfc2217Name(name)) return false;
  const char* p = name + sizeof kRfc2217Prefix - 1;
  const char* colon;
  if (*p == '[') {
    const char* close = std::strchr(p, ']');
    if (close == nullptr || close == p + 1 || close[1] != ':') return false;
    host.assign(p + 1, close);
    colon = close + 1;
  } else {
    colon = std::strchr(p, ':');
    if (colon == nullptr || colon == p) return false;
    host.assign(p, colon);
  }
  if (host.find_first_of("/?#@[] ") != std::string::npos) return false;
  return ParsePort(colon + 1, port);
}

std::unique_ptr<Line> OpenRfc2217Line(const char* name, const Rfc2217Timing& timing) {
  std::string host, port;
  if (!ParseRfc2217Name(name, host, port)) return nullptr;
  auto connect_ms = static_cast<int>(timing.connect.count());
  net::Socket socket = net::Socket::Connect(host.c_str(), port.c_str(), connect_ms);
  if (!socket.Valid()) return nullptr;
  auto line = std::make_unique<Rfc2217Line>(std::move(socket), timing);
  if (!line->Start()) return nullptr;
  return line;
}

}  // namespace zor
