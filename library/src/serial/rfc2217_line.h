// A network serial port: the line of a terminal server speaking RFC 2217 (Telnet Com Port Control
// Option) at rfc2217://HOST:PORT. Data travels as Telnet data; settings, DTR and RTS as
// COM-PORT-OPTION commands; CTS, DSR, RI and DCD arrive as NOTIFY-MODEMSTATE.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "line.h"

namespace zor {

inline constexpr char kRfc2217Prefix[] = "rfc2217://";

bool IsRfc2217Name(const char* name);

// Splits rfc2217://HOST:PORT (HOST a name, an IPv4 address or a bracketed IPv6 address, PORT
// 1 to 65535); false for anything else.
bool ParseRfc2217Name(const char* name, std::string& host, std::string& port);

// The bounds of the waits for the server's answers.
struct Rfc2217Timing {
  std::chrono::milliseconds connect{3000};
  // Agreement to COM-PORT-OPTION.
  std::chrono::milliseconds negotiation{1000};
  // The acknowledgements of all line settings together.
  std::chrono::milliseconds settings{1000};
  // The acknowledgement of a DTR or RTS change or of a purge; a server that lets it pass once is
  // not waited for again.
  std::chrono::milliseconds control{200};
  // A socket that takes no bytes for this long fails the write.
  std::chrono::milliseconds write_stall{5000};
  // The read time-outs of the Normal set.
  std::chrono::milliseconds read_interval{10};
};

// Connects and starts the Telnet negotiation; nullptr when the name is malformed or the
// connection cannot be made.
std::unique_ptr<Line> OpenRfc2217Line(const char* name, const Rfc2217Timing& timing = {});

}  // namespace zor
