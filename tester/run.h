// The run-wide state of the tester, read and changed by the command line, the key loop and the
// commands.
#pragma once

#include <cstdint>
#include <string>

#include "console.h"

namespace zortester {

// Every library call of the tester names this port slot.
constexpr uint16_t kPort = 7;

struct Run {
  explicit Run(Console& console_) : console(console_) {}

  Console& console;
  bool quiet = false;              // Q switch, keys q and Q; cleared when the port opens in debug mode
  bool debug = false;              // G and g switches; never cleared
  bool port_opened = false;        // set by the first OpenCommunicationPort
  bool help_hint_pending = true;   // cleared on the first pass of the key loop
  bool key_loop = true;            // cleared by the T switch
  int32_t COMNumber = 0;           // from the first argument, when it is a number
  std::string port_name;           // from the first argument, when it names a port
};

// The error line of a failed library call: the call's label and the slot's two texts.
void PrintErrorLine(const char* label);
// The short form: the status text alone.
void PrintStatusText();

}  // namespace zortester
