// One table of the tester's commands, for the switches of the command line and the keys of the
// key loop alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "run.h"

namespace zortester {

// What a command takes besides the run, and so how a switch or a key gets it.
enum class Parameters {
  None,
  Voltage,   // -O<n> f, key O: channel and voltage
  State,     // -E<n> b, key E: channel and on/off
  Cycle,     // -W<n> f f n, keys W/w: channel, minimum, maximum, period
  Protocol,  // -X s f n, keys X/x: file name, voltage step, skipped steps
};

// Everything a command may take, converted from a switch's arguments or from prompt answers.
struct Arguments {
  uint16_t channel = 0;
  double voltage = 0;
  bool on = false;
  double minimum = 0, maximum = 0;
  uint32_t period_ms = 0;
  std::string file_name;
  double voltage_step = 0;
  int32_t skipped_steps = 0;
};

enum class Cases { Both, Upper, Lower };
enum class Use { Switch, Key, Both };

struct CommandEntry {
  char letter;       // upper case
  Cases cases;       // the cases of the letter that select the entry
  Use use;
  Parameters parameters;
  bool opens;        // as a switch, the port is opened before the command runs
  void (*run)(Run&, const Arguments&);
};

// The entry of the letter of a switch ("-x" or "/x"); nothing for a letter outside the table.
const CommandEntry* FindSwitch(char letter);
// The entry of a key code; extended key codes select none.
const CommandEntry* FindKey(int key);

// Converts the parameters of a switch: `arguments` starts with the switch itself and holds all
// that follow it. Gives the number of arguments the switch takes (itself included), or nothing when
// a parameter is missing or does not convert.
std::optional<std::size_t> ConvertSwitch(Parameters parameters, std::span<const char* const> arguments,
                                         Arguments& converted);

}  // namespace zortester
