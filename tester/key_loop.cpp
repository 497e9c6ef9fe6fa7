#include "key_loop.h"

#include <cstdio>

#include "command_table.h"
#include "conversions.h"

namespace zortester {
namespace {

void PrintHelp() {
  std::fputs(
      "Press 'b','B' to get device buffer status,   'z','Z' to purge communication,\n"
      "      'u','U' to get uptime,                 'k','K' to simulate the keypad,\n"
      "      'l','L' to get display data, L: whole display at once,\n"
      "      'd','D' to get firmware date,          'v','V' to get firmware version,\n"
      "      'p','P' to get product identification, 'n','N' to get product number,\n"
      "      'h','H' to get housekeeping data,      's','S' to get HV supply data,\n"
      "      'i','I' to get interlock state,        'r','R' to get sensor current,\n"
      "      'c','C' to get hardware capabilities,\n"
      "      'o','O' to get/set output voltages,    'e','E' to get/set output state,\n"
      "      'm','M' to get measured output voltages,\n"
      "      'w','W' to cycle the output voltages,\n"
      "      'x','X' to create test protocol, X: pause after each voltage step,\n"
      "      'q','Q' to set quiet mode off/on,\n"
      "      'Esc' to stop,                             '?' to get this help...\n",
      stdout);
}

// Idle, the loop waits on the console for the next key rather than waking every millisecond; a
// key ends the wait at once, and the bound keeps every wait finite.
constexpr int kIdleWaitMs = 100;

enum class Answer { Run, Nothing, Invalid };

// Prints the prompt and converts the line typed in answer; false when it does not convert.
template <typename Value>
bool Ask(Console& console, const char* prompt, bool (*convert)(const char*, Value&), Value& value) {
  std::fputs(prompt, stdout);
  const auto line = console.ReadLine();
  return line && convert(line->c_str(), value);
}

Answer AskVoltage(Console& console, Arguments& a) {
  const bool ok = Ask(console, "Enter the channel number (1-5): ", ToUShort, a.channel) &&
                  Ask(console, "Enter the new voltage in V: ", ToDouble, a.voltage);
  return ok ? Answer::Run : Answer::Invalid;
}

Answer AskState(Console& console, Arguments& a) {
  int32_t state = 0;
  if (!Ask(console, "Enter the channel number (1-5, 0 for all): ", ToUShort, a.channel) ||
      !Ask(console, "Enter the new state (0 for off, 1 for on): ", ToInt, state)) {
    return Answer::Invalid;
  }
  a.on = state == 1;
  return state == 0 || state == 1 ? Answer::Run : Answer::Nothing;
}

Answer AskCycle(Console& console, Arguments& a) {
  const bool ok = Ask(console, "Enter the channel number (1-5): ", ToUShort, a.channel) &&
                  Ask(console, "Enter the minimum voltage in V: ", ToDouble, a.minimum) &&
                  Ask(console, "Enter the maximum voltage in V: ", ToDouble, a.maximum) &&
                  Ask(console, "Enter the period in ms: ", ToUnsigned, a.period_ms);
  return ok ? Answer::Run : Answer::Invalid;
}

Answer AskProtocol(Console& console, Arguments& a) {
  const bool ok =
      Ask(console, "Enter the filename for the test protocol: ", ToFileName, a.file_name) &&
      Ask(console, "Enter the voltage step for the output test in V: ", ToDouble, a.voltage_step) &&
      Ask(console, "Enter the number of voltage steps at voltage limits that should not be considered: ", ToInt,
          a.skipped_steps);
  return ok ? Answer::Run : Answer::Invalid;
}

Answer AskFor(Parameters parameters, Console& console, Arguments& a) {
  switch (parameters) {
    case Parameters::Voltage: return AskVoltage(console, a);
    case Parameters::State: return AskState(console, a);
    case Parameters::Cycle: return AskCycle(console, a);
    case Parameters::Protocol: return AskProtocol(console, a);
    case Parameters::None: break;
  }
  return Answer::Run;
}

void RunFromKey(Run& run, const CommandEntry& entry) {
  Arguments arguments;
  switch (AskFor(entry.parameters, run.console, arguments)) {
    case Answer::Run: entry.run(run, arguments); break;
    case Answer::Nothing: break;
    case Answer::Invalid: std::fputs("Invalid answer, nothing done\n", stdout); break;
  }
}

}  // namespace

void RunKeyLoop(Run& run) {
  while (true) {
    if (run.help_hint_pending) {
      if (!run.quiet) std::fputs("Press '?' for help\n", stdout);
      run.help_hint_pending = false;
      std::fflush(stdout);
    }
    if (!run.console.KeyWaiting()) {
      run.console.AwaitKey(kIdleWaitMs);
      continue;
    }
    const int key = run.console.ReadKey();
    if (key == kEscKey) return;
    if (key == '?') {
      PrintHelp();
    } else if (const CommandEntry* entry = FindKey(key)) {
      RunFromKey(run, *entry);
    }
    std::fflush(stdout);
  }
}

}  // namespace zortester
