#include "telnet_codec.h"

namespace zor::telnet {

void Parser::Reset() {
  state_ = State::Data;
  sub_size_ = 0;
  sub_overflow_ = false;
}

Parser::Event Parser::Feed(uint8_t byte) {
  switch (state_) {
    case State::Data:
      if (byte == IAC) {
        state_ = State::Iac;
        return Event::None;
      }
      data_ = byte;
      return Event::Data;
    case State::Iac:
      return AfterIac(byte);
    case State::Verb:
      option_ = byte;
      state_ = State::Data;
      return Event::Negotiation;
    case State::Sub:
      if (byte == IAC) {
        state_ = State::SubIac;
      } else if (sub_size_ < kMaxSubnegotiation) {
        sub_[sub_size_++] = byte;
      } else {
        sub_overflow_ = true;
      }
      return Event::None;
    case State::SubIac:
      if (byte == IAC) {
        state_ = State::Sub;
        if (sub_size_ < kMaxSubnegotiation) {
          sub_[sub_size_++] = IAC;
        } else {
          sub_overflow_ = true;
        }
        return Event::None;
      }
      if (byte == SE) return EndSubnegotiation();
      // A command inside a subnegotiation ends it unfinished; the command itself still counts.
      sub_size_ = 0;
      return AfterIac(byte);
  }
  return Event::None;
}

Parser::Event Parser::AfterIac(uint8_t byte) {
  state_ = State::Data;
  switch (byte) {
    case IAC:
      data_ = IAC;
      return Event::Data;
    case SB:
      state_ = State::Sub;
      sub_size_ = 0;
      sub_overflow_ = false;
      return Event::None;
    case WILL:
    case WONT:
    case DO:
    case DONT:
      verb_ = byte;
      state_ = State::Verb;
      return Event::None;
    case SE:  // stray end of a subnegotiation that never began
      return Event::None;
    default:
      verb_ = byte;
      return Event::Command;
  }
}

Parser::Event Parser::EndSubnegotiation() {
  state_ = State::Data;
  if (sub_overflow_ || sub_size_ == 0) {
    sub_size_ = 0;
    sub_overflow_ = false;
    return Event::None;
  }
  return Event::Subnegotiation;
}

void Options::Support(uint8_t option, bool local, bool remote) {
  state_[option].local_supported = local;
  state_[option].remote_supported = remote;
}

size_t Options::Request(uint8_t verb, uint8_t option, uint8_t* out) {
  if (verb == WILL) state_[option].local_asked = true;
  if (verb == DO) state_[option].remote_asked = true;
  return EncodeNegotiation(verb, option, out);
}

size_t Options::Receive(uint8_t verb, uint8_t option, uint8_t* out) {
  State& s = state_[option];
  const bool for_local = verb == DO || verb == DONT;
  const bool enable = verb == DO || verb == WILL;
  bool& enabled = for_local ? s.local : s.remote;
  bool& asked = for_local ? s.local_asked : s.remote_asked;
  const bool supported = for_local ? s.local_supported : s.remote_supported;
  const bool was_asked = asked;
  asked = false;
  if (enable && !supported) return EncodeNegotiation(for_local ? WONT : DONT, option, out);
  if (enable == enabled) return 0;
  enabled = enable;
  if (was_asked) return 0;  // the answer to our own request
  uint8_t answer = for_local ? (enable ? WILL : WONT) : (enable ? DO : DONT);
  return EncodeNegotiation(answer, option, out);
}

size_t EscapeData(std::span<const uint8_t> in, uint8_t* out) {
  size_t n = 0;
  for (uint8_t byte : in) {
    out[n++] = byte;
    if (byte == IAC) out[n++] = IAC;
  }
  return n;
}

size_t EncodeNegotiation(uint8_t verb, uint8_t option, uint8_t* out) {
  out[0] = IAC;
  out[1] = verb;
  out[2] = option;
  return kNegotiationSize;
}

size_t EncodeSubnegotiation(uint8_t option, std::span<const uint8_t> payload, uint8_t* out) {
  size_t n = 0;
  out[n++] = IAC;
  out[n++] = SB;
  n += EscapeData(std::span<const uint8_t>(&option, 1), out + n);
  n += EscapeData(payload, out + n);
  out[n++] = IAC;
  out[n++] = SE;
  return n;
}

size_t EncodeComPort(uint8_t code, std::span<const uint8_t> value, uint8_t* out) {
  size_t n = 0;
  out[n++] = IAC;
  out[n++] = SB;
  out[n++] = OPT_COM_PORT;
  n += EscapeData(std::span<const uint8_t>(&code, 1), out + n);
  n += EscapeData(value, out + n);
  out[n++] = IAC;
  out[n++] = SE;
  return n;
}

}  // namespace zor::telnet
