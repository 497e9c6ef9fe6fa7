// Telnet framing as RFC 2217 network serial ports use it: a byte-level parser and the encoders of
// data, option negotiation and subnegotiation. Shared by the library's client and the simulator's
// server; allocation-free so it can sit on the read and write paths.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace zor::telnet {

inline constexpr uint8_t SE = 240;
inline constexpr uint8_t NOP = 241;
inline constexpr uint8_t SB = 250;
inline constexpr uint8_t WILL = 251;
inline constexpr uint8_t WONT = 252;
inline constexpr uint8_t DO = 253;
inline constexpr uint8_t DONT = 254;
inline constexpr uint8_t IAC = 255;

inline constexpr uint8_t OPT_BINARY = 0;
inline constexpr uint8_t OPT_ECHO = 1;
inline constexpr uint8_t OPT_SGA = 3;
inline constexpr uint8_t OPT_COM_PORT = 44;

// COM-PORT-OPTION command codes, client to server; the server answers with code + SERVER.
namespace cpo {
inline constexpr uint8_t SIGNATURE = 0;
inline constexpr uint8_t SET_BAUDRATE = 1;
inline constexpr uint8_t SET_DATASIZE = 2;
inline constexpr uint8_t SET_PARITY = 3;
inline constexpr uint8_t SET_STOPSIZE = 4;
inline constexpr uint8_t SET_CONTROL = 5;
inline constexpr uint8_t NOTIFY_LINESTATE = 6;
inline constexpr uint8_t NOTIFY_MODEMSTATE = 7;
inline constexpr uint8_t FLOWCONTROL_SUSPEND = 8;
inline constexpr uint8_t FLOWCONTROL_RESUME = 9;
inline constexpr uint8_t SET_LINESTATE_MASK = 10;
inline constexpr uint8_t SET_MODEMSTATE_MASK = 11;
inline constexpr uint8_t PURGE_DATA = 12;
inline constexpr uint8_t SERVER = 100;

// SET-CONTROL values.
inline constexpr uint8_t FLOW_ASK = 0;
inline constexpr uint8_t FLOW_NONE = 1;
inline constexpr uint8_t FLOW_XONXOFF = 2;
inline constexpr uint8_t FLOW_HARDWARE = 3;
inline constexpr uint8_t BREAK_ASK = 4;
inline constexpr uint8_t BREAK_ON = 5;
inline constexpr uint8_t BREAK_OFF = 6;
inline constexpr uint8_t DTR_ASK = 7;
inline constexpr uint8_t DTR_ON = 8;
inline constexpr uint8_t DTR_OFF = 9;
inline constexpr uint8_t RTS_ASK = 10;
inline constexpr uint8_t RTS_ON = 11;
inline constexpr uint8_t RTS_OFF = 12;

inline constexpr uint8_t PARITY_NONE = 1;
inline constexpr uint8_t PARITY_EVEN = 3;
inline constexpr uint8_t STOPSIZE_ONE = 1;

inline constexpr uint8_t PURGE_RECEIVE = 1;
inline constexpr uint8_t PURGE_TRANSMIT = 2;
inline constexpr uint8_t PURGE_BOTH = 3;

// NOTIFY-MODEMSTATE bits; the low nibble flags changes.
inline constexpr uint8_t MODEM_DCD = 0x80;
inline constexpr uint8_t MODEM_RI = 0x40;
inline constexpr uint8_t MODEM_DSR = 0x20;
inline constexpr uint8_t MODEM_CTS = 0x10;
inline constexpr uint8_t MODEM_DCD_CHANGED = 0x08;
inline constexpr uint8_t MODEM_RI_TRAILING = 0x04;
inline constexpr uint8_t MODEM_DSR_CHANGED = 0x02;
inline constexpr uint8_t MODEM_CTS_CHANGED = 0x01;

// NOTIFY-LINESTATE bits.
inline constexpr uint8_t LINE_BREAK = 0x10;
inline constexpr uint8_t LINE_FRAMING = 0x08;
inline constexpr uint8_t LINE_PARITY = 0x04;
inline constexpr uint8_t LINE_OVERRUN = 0x02;
}  // namespace cpo

// Splits a received Telnet stream into data bytes, negotiations, other commands and
// subnegotiations, one byte at a time, so a command may be split across any number of reads.
class Parser {
public:
  enum class Event { None, Data, Negotiation, Command, Subnegotiation };
  // Longer subnegotiations (an unusual signature text) are dropped whole.
  static constexpr size_t kMaxSubnegotiation = 256;

  Event Feed(uint8_t byte);
  void Reset();

  // Valid after Data.
  uint8_t data() const { return data_; }
  // After Negotiation: WILL, WONT, DO or DONT and the option; after Command: the command byte.
  uint8_t verb() const { return verb_; }
  uint8_t option() const { return option_; }
  // After Subnegotiation: the option byte followed by its unescaped payload.
  std::span<const uint8_t> subnegotiation() const { return {sub_, sub_size_}; }

private:
  enum class State { Data, Iac, Verb, Sub, SubIac };
  Event AfterIac(uint8_t byte);
  Event EndSubnegotiation();

  State state_ = State::Data;
  uint8_t data_ = 0;
  uint8_t verb_ = 0;
  uint8_t option_ = 0;
  bool sub_overflow_ = false;
  size_t sub_size_ = 0;
  uint8_t sub_[kMaxSubnegotiation] = {};
};

// The state of the options on both sides of a connection, negotiated in the simple form of the
// Telnet rules: a request is answered only when it changes the state, so no loop can start, and
// an option that is not supported is declined.
class Options {
public:
  // Which options this side will do itself (local) and let the peer do (remote).
  void Support(uint8_t option, bool local, bool remote);
  // Our own request: WILL or DO; writes the kNegotiationSize bytes to send.
  size_t Request(uint8_t verb, uint8_t option, uint8_t* out);
  // A received WILL, WONT, DO or DONT; writes the answer, if any, and returns its size.
  size_t Receive(uint8_t verb, uint8_t option, uint8_t* out);
  bool Local(uint8_t option) const { return state_[option].local; }
  bool Remote(uint8_t option) const { return state_[option].remote; }

private:
  struct State {
    bool local_supported = false, local = false, local_asked = false;
    bool remote_supported = false, remote = false, remote_asked = false;
  };
  State state_[256];
};

// Data with every IAC doubled; out needs room for 2 * in.size() bytes. Returns the bytes written.
size_t EscapeData(std::span<const uint8_t> in, uint8_t* out);

// IAC verb option.
inline constexpr size_t kNegotiationSize = 3;
size_t EncodeNegotiation(uint8_t verb, uint8_t option, uint8_t* out);

// IAC SB option payload... IAC SE with IAC doubled in the payload; out needs
// SubnegotiationSize(payload.size()) bytes.
constexpr size_t SubnegotiationSize(size_t payload) { return 2 * (payload + 1) + 4; }
size_t EncodeSubnegotiation(uint8_t option, std::span<const uint8_t> payload, uint8_t* out);

// One COM-PORT-OPTION command: IAC SB 44 code value... IAC SE; out needs
// SubnegotiationSize(1 + value.size()) bytes, kMaxComPortCommand for the settings' values.
inline constexpr size_t kMaxComPortValue = 4;
inline constexpr size_t kMaxComPortCommand = SubnegotiationSize(1 + kMaxComPortValue);
size_t EncodeComPort(uint8_t code, std::span<const uint8_t> value, uint8_t* out);

}  // namespace zor::telnet
