#include "program.h"

#include <cstdio>
#include <optional>
#include <span>
#include <string_view>

#include "COM-ZOR4.h"
#include "command_table.h"
#include "conversions.h"
#include "key_loop.h"
#include "run.h"

namespace zortester {
namespace {

void PrintUsage(const std::string& name) {
  std::printf("%s ver. 1.00, compilation date: %s\n", name.c_str(), __DATE__);
  std::printf("\nTest utility for ZORLINE devices\n\nUsage: %s COMNumber [switches]\n", name.c_str());
  std::fputs(
      "  switch: { -option, /option }\n"
      "    options:\n"
      "      Q/q:  quiet mode,\n"
      "      G/g:  debug mode, G: additional I/O debug into Debug.txt,\n"
      "      B/b:  get device buffer status,     Z/z: purge communication,\n"
      "      U/u:  get uptime,                   K/k: simulate the keypad,\n"
      "      L/l:  get display data, L: whole display at once,\n"
      "      D/d:  get firmware date,            V/v: get firmware version,\n"
      "      P/p:  get product identification,   N/n: get product number,\n"
      "      H/h:  get housekeeping data,        S/s: get HV supply data,\n"
      "      I/i:  get interlock state,          R/r: get sensor current,\n"
      "      C/c:  get hardware capabilities,\n"
      "      On f: set output voltage,           o:   get output voltages,\n"
      "      En b: set output state,             e:   get output state,\n"
      "      M/m:  get measured output voltages,\n"
      "      W/wn f f n: cycle the output voltages,\n"
      "      X/x s f n: create test protocol, X: pause after each voltage step,\n"
      "      T/t:  terminate the program,          ?: get this help\n"
      "    parameters: n=integer, f=float, b=Boolean (Y/N), s=string\n",
      stdout);
}

// A port by name: a device path or a URL, never a switch such as "/?".
bool NamesPort(std::string_view text) {
  const bool looks_like_switch = text.size() == 2 && (text[0] == '-' || text[0] == '/');
  return !looks_like_switch && text.find_first_of("/:") != std::string_view::npos;
}

// The first argument: the COM port number, or else the name of a port.
bool TakePort(const char* text, Run& run) {
  if (ToInt(text, run.COMNumber)) return true;
  if (!NamesPort(text)) return false;
  run.port_name = text;
  return true;
}

int32_t OpenPort(const Run& run) {
  if (!run.port_name.empty()) return COM_ZOR4_OpenByName(kPort, run.port_name.c_str());
  // The library takes the number as an 8-bit value.
  return COM_ZOR4_Open(kPort, static_cast<uint8_t>(run.COMNumber));
}

// Opens the port once per run; gives the exit status when the program has to end.
std::optional<int> OpenCommunicationPort(Run& run) {
  if (run.port_opened) return std::nullopt;
  run.port_opened = true;
  if (run.port_name.empty() && (run.COMNumber < 1 || run.COMNumber > 255)) {
    std::printf("Wrong COMNumber specified: %d, allowed range: 1..255\n", run.COMNumber);
  }
  if (run.debug) run.quiet = false;
  if (run.debug) std::fputs("Checking the DLL Version...\n", stdout);
  const uint16_t version = COM_ZOR4_Version();
  const int major = version / 256, minor = version % 256;
  if (version < 0x0100) {
    std::printf("Wrong DLL Version, expected 1.00, found %d.%02d\n", major, minor);
    return -1;
  }
  if (run.debug) {
    std::printf("DLL Version: %d.%02d\n", major, minor);
    std::fputs("Opening the communication port...\n", stdout);
  }
  if (OpenPort(run) != 0) {
    PrintStatusText();
    return -2;
  }
  if (!run.quiet) std::fputs("Communication port opened\n", stdout);
  return std::nullopt;
}

struct SwitchOutcome {
  bool rejected = false;
  std::optional<int> exit_status;  // the port did not open
};

// Runs the switches in their order until one is rejected or T ends the processing.
SwitchOutcome RunSwitches(Run& run, std::span<const char* const> switches) {
  std::size_t i = 0;
  while (i < switches.size() && run.key_loop) {
    const char* argument = switches[i];
    const bool prefixed = argument[0] == '-' || argument[0] == '/';
    const CommandEntry* entry = prefixed ? FindSwitch(argument[1]) : nullptr;
    if (entry == nullptr) return {true, std::nullopt};
    Arguments arguments;
    const auto taken = ConvertSwitch(entry->parameters, switches.subspan(i), arguments);
    if (!taken) return {true, std::nullopt};
    if (entry->opens) {
      if (const auto status = OpenCommunicationPort(run)) return {false, status};
    }
    entry->run(run, arguments);
    // A switch without parameters is its letter alone; one with more has run all the same.
    if (entry->parameters == Parameters::None && argument[2] != '\0') return {true, std::nullopt};
    i += *taken;
  }
  return {};
}

int CloseCommunicationPort(const Run& run) {
  if (run.debug) std::fputs("Closing the communication port...\n", stdout);
  if (COM_ZOR4_Close(kPort) != 0) PrintStatusText();
  if (!run.quiet) std::fputs("Communication port closed\n", stdout);
  (void)COM_ZOR4_CloseDebugFile(kPort);
  if (!run.quiet) std::fputs("Program finished\n", stdout);
  return 0;
}

}  // namespace

std::string ProgramName(const char* path) {
  std::string_view name = path != nullptr ? path : "";
#ifdef _WIN32
  const std::size_t separator = name.find_last_of("\\/");
#else
  const std::size_t separator = name.find_last_of('/');
#endif
  if (separator != std::string_view::npos) name.remove_prefix(separator + 1);
  return std::string(name.substr(0, name.find('.')));
}

int RunProgram(int argc, const char* const* argv, Console& console) {
  Run run(console);
  const std::span<const char* const> arguments(argv, static_cast<std::size_t>(argc > 0 ? argc : 0));
  bool rejected = arguments.size() < 2 || !TakePort(arguments[1], run);
  if (!rejected) {
    const SwitchOutcome outcome = RunSwitches(run, arguments.subspan(2));
    if (outcome.exit_status) return *outcome.exit_status;
    rejected = outcome.rejected;
  }
  if (rejected) {
    PrintUsage(ProgramName(arguments.empty() ? nullptr : arguments[0]));
    (void)COM_ZOR4_CloseDebugFile(kPort);
    return -1;
  }
  if (const auto status = OpenCommunicationPort(run)) return *status;
  if (run.key_loop) RunKeyLoop(run);
  return CloseCommunicationPort(run);
}

}  // namespace zortester
