// Output control: set a channel's voltage or state, cycle a channel between two voltages.
#include <cstdio>
#include <optional>

#include "COM-ZOR4.h"
#include "clock.h"
#include "commands.h"
#include "waiting.h"

namespace zortester {
namespace {

// What the commands test their parameters against.
struct Limits {
  unsigned channels = 0;
  double lowest = 0, highest = 0;
};

std::optional<Limits> ReadLimits() {
  uint8_t channels = 0;
  double lowest = 0, highest = 0, precision = 0, shutdown = 0;
  int32_t sensor = 0;
  if (COM_ZOR4_GetHardwareCapability(kPort, &channels, &lowest, &highest, &precision, &sensor, &shutdown) != 0) {
    PrintErrorLine("COM_ZOR4_GetHardwareCapability");
    return std::nullopt;
  }
  return Limits{channels, lowest, highest};
}

// Channels counted from 1; false after the message.
bool ChannelAccepted(uint16_t channel, const Limits& limits) {
  if (channel != 0 && channel <= limits.channels) return true;
  std::printf("Wrong channel specified: %u, allowed range: 1..%u\n", static_cast<unsigned>(channel), limits.channels);
  return false;
}

// The limits themselves are accepted; a value that compares neither way (not a number) is not.
bool VoltageAccepted(double voltage, const Limits& limits) {
  return voltage <= limits.highest && voltage >= limits.lowest;
}

const char* OnOff(int32_t on) { return on != 0 ? "on " : "off"; }

// One setting of the cycle; false after the error line.
bool SetCycleVoltage(const Run& run, uint16_t channel, double& voltage) {
  if (run.debug) std::fputs("Setting the output voltage:\n", stdout);
  if (COM_ZOR4_Set_OutputVoltage(kPort, static_cast<uint16_t>(channel - 1), &voltage) != 0) {
    PrintErrorLine("COM_ZOR4_Set_OutputVoltage");
    return false;
  }
  if (!run.quiet) std::printf("Output voltage:\tCh%d: %.1lfV\n", channel, voltage);
  return true;
}

// Switches every channel in turn, each asked for the requested state afresh.
void SetAllOutputStates(unsigned channels, bool on) {
  std::fputs("Output state:", stdout);
  for (unsigned i = 0; i < channels; ++i) {
    int32_t state = on ? 1 : 0;
    if (COM_ZOR4_Set_OutputState(kPort, static_cast<uint16_t>(i), &state) != 0) {
      PrintErrorLine("COM_ZOR4_Set_OutputState");
      return;
    }
    std::printf("\tCh%u: %s", i + 1, OnOff(state));
  }
  std::fputs("\n", stdout);
}

}  // namespace

void SetOutputVoltage(Run& run, uint16_t channel, double voltage) {
  const auto limits = ReadLimits();
  if (!limits || !ChannelAccepted(channel, *limits)) return;
  if (!VoltageAccepted(voltage, *limits)) {
    std::printf("Wrong voltage specified: %.1lf, allowed range: %+.0lf..%+.0lf\n", voltage, limits->lowest,
                limits->highest);
    return;
  }
  if (run.debug) std::fputs("Setting the output voltage:\n", stdout);
  if (COM_ZOR4_Set_OutputVoltage(kPort, static_cast<uint16_t>(channel - 1), &voltage) != 0) {
    PrintErrorLine("COM_ZOR4_Set_OutputVoltage");
    return;
  }
  std::printf("Output voltage:\tCh%d: %.1lfV\n", channel, voltage);
}

void SetOutputState(Run& run, uint16_t channel, bool on) {
  const auto limits = ReadLimits();
  if (!limits) return;
  if (channel > limits->channels) {
    std::printf("Wrong channel specified: %u, allowed range: 0..%u\n", static_cast<unsigned>(channel), limits->channels);
    return;
  }
  if (run.debug) std::fputs("Setting the output state:\n", stdout);
  if (channel == 0) {
    SetAllOutputStates(limits->channels, on);
    return;
  }
  int32_t state = on ? 1 : 0;
  if (COM_ZOR4_Set_OutputState(kPort, static_cast<uint16_t>(channel - 1), &state) != 0) {
    PrintErrorLine("COM_ZOR4_Set_OutputState");
    return;
  }
  std::printf("Output state:\tCh%d: %s\n", channel, OnOff(state));
}

void CycleOutputVoltage(Run& run, uint16_t channel, double minimum, double maximum, uint32_t period_ms) {
  const auto limits = ReadLimits();
  if (!limits || !ChannelAccepted(channel, *limits)) return;
  if (!VoltageAccepted(minimum, *limits)) {
    std::printf("Wrong minimum voltage specified: %.1lf, allowed range: %+.0lf..%+.0lf\n", minimum, limits->lowest,
                limits->highest);
    return;
  }
  if (!VoltageAccepted(maximum, *limits)) {
    std::printf("Wrong maximum voltage specified: %.1lf, allowed range: %+.0lf..%+.0lf\n", maximum, limits->lowest,
                limits->highest);
    return;
  }
  std::fputs(run.debug ? "Cycling the output voltage, press SPACE to stop...\n" : "Press SPACE to stop...\n", stdout);
  // A fixed schedule from the start: the time the settings take is absorbed by the waits.
  const uint32_t maximum_phase = period_ms / 2, minimum_phase = period_ms - maximum_phase;
  int32_t deadline = MillisecondClock();
  while (true) {
    if (!SetCycleVoltage(run, channel, maximum)) return;
    deadline = AdvanceDeadline(deadline, maximum_phase);
    if (!WaitOrSpace(run.console, deadline, true)) break;
    if (!SetCycleVoltage(run, channel, minimum)) return;
    deadline = AdvanceDeadline(deadline, minimum_phase);
    if (!WaitOrSpace(run.console, deadline, true)) break;
  }
  std::fputs(run.debug ? "SPACE pressed, cycling the output voltage stopped\n" : "Cycle stopped\n", stdout);
  DiscardWaitingKeys(run.console);
}

}  // namespace zortester
