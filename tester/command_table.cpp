#include "command_table.h"

#include <cstdio>
#include <cstring>

#include "COM-ZOR4.h"
#include "commands.h"
#include "conversions.h"

namespace zortester {
namespace {

void QuietOn(Run& run, const Arguments&) { run.quiet = true; }
void DebugOn(Run& run, const Arguments&) { run.debug = true; }
void DebugIntoFile(Run& run, const Arguments&) {
  run.debug = true;
  (void)COM_ZOR4_OpenDebugFile(kPort, "Debug.txt");
}
void Terminate(Run& run, const Arguments&) { run.key_loop = false; }
void QuietKey(Run& run, bool on) {
  run.quiet = on;
  std::printf("Quiet mode is %s\n", on ? "on" : "off");
}

// A command without parameters, as an entry of the table.
template <void (*Command)(Run&)>
void Plain(Run& run, const Arguments&) {
  Command(run);
}

constexpr CommandEntry kCommands[] = {
    {'Q', Cases::Both, Use::Switch, Parameters::None, false, QuietOn},
    {'Q', Cases::Upper, Use::Key, Parameters::None, false, [](Run& run, const Arguments&) { QuietKey(run, true); }},
    {'Q', Cases::Lower, Use::Key, Parameters::None, false, [](Run& run, const Arguments&) { QuietKey(run, false); }},
    {'G', Cases::Upper, Use::Switch, Parameters::None, false, DebugIntoFile},
    {'G', Cases::Lower, Use::Switch, Parameters::None, false, DebugOn},
    {'B', Cases::Both, Use::Both, Parameters::None, true, Plain<GetBufferStatus>},
    {'Z', Cases::Both, Use::Both, Parameters::None, true, Plain<PurgeCommunication>},
    {'U', Cases::Both, Use::Both, Parameters::None, true, Plain<GetUptime>},
    {'K', Cases::Both, Use::Both, Parameters::None, true, Plain<RunKeypadSimulation>},
    {'L', Cases::Upper, Use::Both, Parameters::None, true, [](Run& run, const Arguments&) { GetDisplayData(run, true); }},
    {'L', Cases::Lower, Use::Both, Parameters::None, true, [](Run& run, const Arguments&) { GetDisplayData(run, false); }},
    {'D', Cases::Both, Use::Both, Parameters::None, true, Plain<GetFirmwareDate>},
    {'V', Cases::Both, Use::Both, Parameters::None, true, Plain<GetFirmwareVersion>},
    {'P', Cases::Both, Use::Both, Parameters::None, true, Plain<GetProductIdentification>},
    {'N', Cases::Both, Use::Both, Parameters::None, true, Plain<GetProductNumber>},
    {'H', Cases::Both, Use::Both, Parameters::None, true, Plain<GetHousekeepingData>},
    {'S', Cases::Both, Use::Both, Parameters::None, true, Plain<GetHVSupplyData>},
    {'I', Cases::Both, Use::Both, Parameters::None, true, Plain<GetInterlockState>},
    {'R', Cases::Both, Use::Both, Parameters::None, true, Plain<GetSensorCurrent>},
    {'C', Cases::Both, Use::Both, Parameters::None, true, Plain<GetHardwareCapabilities>},
    {'M', Cases::Both, Use::Both, Parameters::None, true, Plain<GetMeasuredOutputVoltages>},
    {'O', Cases::Lower, Use::Both, Parameters::None, true, Plain<GetOutputVoltages>},
    {'O', Cases::Upper, Use::Both, Parameters::Voltage, true,
     [](Run& run, const Arguments& a) { SetOutputVoltage(run, a.channel, a.voltage); }},
    {'E', Cases::Lower, Use::Both, Parameters::None, true, Plain<GetOutputState>},
    {'E', Cases::Upper, Use::Both, Parameters::State, true,
     [](Run& run, const Arguments& a) { SetOutputState(run, a.channel, a.on); }},
    {'W', Cases::Both, Use::Both, Parameters::Cycle, true,
     [](Run& run, const Arguments& a) { CycleOutputVoltage(run, a.channel, a.minimum, a.maximum, a.period_ms); }},
    {'X', Cases::Upper, Use::Both, Parameters::Protocol, true,
     [](Run& run, const Arguments& a) { CreateTestProtocol(run, a.file_name, a.voltage_step, true, a.skipped_steps); }},
    {'X', Cases::Lower, Use::Both, Parameters::Protocol, true,
     [](Run& run, const Arguments& a) { CreateTestProtocol(run, a.file_name, a.voltage_step, false, a.skipped_steps); }},
    {'T', Cases::Both, Use::Switch, Parameters::None, false, Terminate},
};

bool IsUpper(int c) { return c >= 'A' && c <= 'Z'; }
bool IsLower(int c) { return c >= 'a' && c <= 'z'; }

const CommandEntry* Find(int letter, Use use) {
  const int upper = IsLower(letter) ? letter - 'a' + 'A' : letter;
  for (const CommandEntry& entry : kCommands) {
    if (entry.letter != upper || (entry.use != use && entry.use != Use::Both)) continue;
    if (entry.cases == Cases::Both || (entry.cases == Cases::Upper ? IsUpper(letter) : IsLower(letter))) {
      return &entry;
    }
  }
  return nullptr;
}

// The channel written right after the switch letter: -O3, -E2, -W1.
bool ChannelAfterLetter(const char* switch_argument, Arguments& converted) {
  return ToUShort(switch_argument + 2, converted.channel);
}

bool ToState(const char* text, bool& on) {
  if (std::strlen(text) != 1 || std::strchr("YyNn", text[0]) == nullptr) return false;
  on = text[0] == 'Y' || text[0] == 'y';
  return true;
}

}  // namespace

const CommandEntry* FindSwitch(char letter) {
  return letter == '\0' ? nullptr : Find(static_cast<unsigned char>(letter), Use::Switch);
}

const CommandEntry* FindKey(int key) { return key >= kExtendedKey ? nullptr : Find(key, Use::Key); }

std::optional<std::size_t> ConvertSwitch(Parameters parameters, std::span<const char* const> arguments,
                                         Arguments& converted) {
  const auto needs = [&](std::size_t count) { return arguments.size() >= count; };
  bool ok = false;
  std::size_t taken = 1;
  switch (parameters) {
    case Parameters::None:
      return 1;
    case Parameters::Voltage:
      taken = 2;
      ok = ChannelAfterLetter(arguments[0], converted) && needs(taken) && ToDouble(arguments[1], converted.voltage);
      break;
    case Parameters::State:
      taken = 2;
      ok = ChannelAfterLetter(arguments[0], converted) && needs(taken) && ToState(arguments[1], converted.on);
      break;
    case Parameters::Cycle:
      taken = 4;
      ok = ChannelAfterLetter(arguments[0], converted) && needs(taken) &&
           ToDouble(arguments[1], converted.minimum) && ToDouble(arguments[2], converted.maximum) &&
           ToUnsigned(arguments[3], converted.period_ms);
      break;
    case Parameters::Protocol:
      taken = 4;
      // The file name is taken unchanged; the switch carries nothing after its letter.
      ok = std::strlen(arguments[0]) == 2 && needs(taken) && ToDouble(arguments[2], converted.voltage_step) &&
           ToInt(arguments[3], converted.skipped_steps);
      if (ok) converted.file_name = arguments[1];
      break;
  }
  if (!ok) return std::nullopt;
  return taken;
}

}  // namespace zortester
