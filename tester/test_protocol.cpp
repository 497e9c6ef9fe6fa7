// The automated test of a device, recorded in a test protocol file.
//
// Every library call is made a second time when it fails; a second failure ends the run. The
// console shows every result, the file keeps a fuller record (standard deviations and spreads);
// its text is ASCII but for two bytes of ISO 8859-1, 0xB1 (plus-minus) and 0xB0 (degree).
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <string>

#include "COM-ZOR4.h"
#include "clock.h"
#include "commands.h"
#include "sample_statistics.h"
#include "waiting.h"

namespace zortester {
namespace {

// The library hands back channel counts of 0 to 5.
constexpr unsigned kMostChannels = 5;
constexpr int kSupplySamples = 10;
constexpr int kStepSamples = 10;
constexpr uint32_t kSampleInterval = 500;
constexpr uint32_t kFirstSettling = 2000;
constexpr uint32_t kSettling = 1500;

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
std::string Format(const char* format, ...) {
  char text[512];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  return text;
}

const char* OnOff(int32_t on) { return on != 0 ? "on " : "off"; }

struct Capabilities {
  uint8_t channels = 0;
  double lowest = 0, highest = 0, precision = 0;
  int32_t sensor = 0;
  double shutdown = 0;
};

class TestProtocol {
 public:
  TestProtocol(Run& run, std::FILE* file, double voltage_step, bool pause, int32_t skipped_steps)
      : run_(run), console_(run.console), file_(file), step_(voltage_step), pause_(pause),
        skipped_(std::max(skipped_steps, int32_t{0})) {}

  // True when the run reached its end, the early end at an open interlock included.
  bool Execute() {
    const bool done = Steps();
    if (!done && outputs_touched_) LeaveOutputsSafe();
    return done;
  }

 private:
  bool Steps() {
    TimeStamp();
    if (!Identification() || !ReadCapabilities() || !Uptime() || !SupplyData()) return false;
    if (caps_.sensor != 0 && !SensorCurrent()) return false;
    bool closed = false;
    if (!Interlock(closed)) return false;
    if (!closed) {
      std::fputs("Interlock is open, voltage test skipped!\n", stdout);
      std::fputs("\nInterlock is open, voltage test skipped!\n", file_);
      return true;
    }
    return SaveSetVoltages() && SwitchOutputs() && TestVoltages() && ResetOutputs() && RestoreVoltages() &&
           Uptime();
  }

  // The call, and once more when it fails; after a second failure the error line.
  template <typename Call>
  static bool Try(const char* label, Call&& call) {
    if (call() == 0 || call() == 0) return true;
    PrintErrorLine(label);
    return false;
  }

  void Debug(const char* line) const {
    if (run_.debug) std::fputs(line, stdout);
  }

  // A line written in place at column 1 of `row`, not part of the ordinary output.
  void LiveLine(int row, const std::string& text) {
    console_.PlaceCursor(1, row);
    console_.ClearToEndOfLine();
    console_.WriteDirect(text);
  }

  void Wait(int32_t& deadline, uint32_t milliseconds) {
    deadline = AdvanceDeadline(deadline, milliseconds);
    (void)WaitOrSpace(console_, deadline, false);
  }

  unsigned Channels() const { return std::min<unsigned>(caps_.channels, kMostChannels); }

  void TimeStamp() {
    const std::time_t now = std::time(nullptr);
    char stamp[32] = {};
    if (const std::tm* local = std::localtime(&now)) std::strftime(stamp, sizeof stamp, "%a, %m/%d/%Y, %H:%M:%S", local);
    std::printf("Test protocol created at %s\n", stamp);
    std::fprintf(file_, "Test protocol created at %s\n\n", stamp);
  }

  bool Identification() {
    int32_t number = 0;
    Debug("Getting the product number:\n");
    if (!Try("COM_ZOR4_Prod_No", [&] { return COM_ZOR4_Prod_No(kPort, &number); })) return false;
    std::printf("Product number: %d\n", number);
    std::fprintf(file_, "Product number: %d\n", number);

    char identification[8192] = {};  // the longest identification the device can send, and its NUL
    Debug("Getting product identification:\n");
    if (!Try("COM_ZOR4_Prod_ID", [&] { return COM_ZOR4_Prod_ID(kPort, identification); })) return false;
    std::printf("Product identification: %s\n", identification);
    std::fprintf(file_, "Product identification: %s\n", identification);

    uint16_t version = 0;
    Debug("Getting firmware version:\n");
    if (!Try("COM_ZOR4_FW_Ver", [&] { return COM_ZOR4_FW_Ver(kPort, &version); })) return false;
    std::printf("Firmware version: %d.%02d\n", version >> 8, version & 0xFF);
    std::fprintf(file_, "Firmware version: %d.%02d\n", version >> 8, version & 0xFF);

    char date[64] = {};
    Debug("Getting firmware date:\n");
    if (!Try("COM_ZOR4_FW_Date", [&] { return COM_ZOR4_FW_Date(kPort, date); })) return false;
    std::printf("Firmware date: %s\n", date);
    std::fprintf(file_, "Firmware date: %s\n", date);
    return true;
  }

  bool ReadCapabilities() {
    Capabilities& c = caps_;
    Debug("Getting hardware capabilities:\n");
    if (!Try("COM_ZOR4_GetHardwareCapability", [&] {
          return COM_ZOR4_GetHardwareCapability(kPort, &c.channels, &c.lowest, &c.highest, &c.precision, &c.sensor,
                                                &c.shutdown);
        })) {
      return false;
    }
    const unsigned channels = c.channels;
    const char* sensor = c.sensor != 0 ? "installed" : "not installed";
    std::printf("Hardware capabilities:\n\tNumber of channels: %u\n\tOutput voltage range: %+.0lfV..%+.0lfV\n"
                "\tPrecision: %.0lfmV\n\tCurrent sensor: %s\n\tShutdown temperature: %.0lfdegC\n",
                channels, c.lowest, c.highest, c.precision * 1000, sensor, c.shutdown);
    std::fprintf(file_,
                 "\nHardware capabilities:\n\tNumber of channels: %u\n\tOutput voltage range: %+.0lfV..%+.0lfV\n"
                 "\tPrecision: %.0lfmV\n\tCurrent sensor: %s\n\tShutdown temperature: %.0lf\260C\n",
                 channels, c.lowest, c.highest, c.precision * 1000, sensor, c.shutdown);
    return true;
  }

  // The first and the last reading of the run.
  bool Uptime() {
    uint32_t seconds = 0;
    uint16_t milliseconds = 0;
    Debug("Getting device uptime:\n");
    if (!Try("COM_ZOR4_GetUptime", [&] { return COM_ZOR4_GetUptime(kPort, &seconds, &milliseconds); })) {
      return false;
    }
    const auto hours = static_cast<int>(seconds / 3600);
    const auto minutes = static_cast<int>(seconds % 3600 / 60);
    const auto rest = static_cast<int>(seconds % 60);
    const int hundredths = milliseconds / 10;
    std::printf("Device uptime: %d:%02d:%02d.%02d sec.\n", hours, minutes, rest, hundredths);
    std::fprintf(file_, "\nDevice uptime: %d:%02d:%02d.%02d sec.\n", hours, minutes, rest, hundredths);
    return true;
  }

  struct SupplyStatistics {
    SampleStatistics supply, rail5, rail3, cpu, positive, negative, heatsink;
  };

  // Ten samples of the housekeeping and high-voltage supply data, 500 ms apart, shown live on the
  // two rows above the cursor's.
  bool SupplyData() {
    std::fputs(run_.debug ? "Getting the housekeeping & the HV supply data:\n\n" : "\n", stdout);
    const int row = console_.CursorRow();
    int32_t deadline = MillisecondClock();
    SupplyStatistics s;
    for (int i = 0; i < kSupplySamples; ++i) {
      if (!SupplySample(row, s)) return false;
      Wait(deadline, kSampleInterval);
    }
    console_.PlaceCursor(1, row - 1);
    console_.ClearToEndOfLine();
    std::printf("Housekeeping data: Supply: %.3lfV\t5V: %.3lfV\t3V: %.3lfV\tCPU: %.2lfdegC\n", s.supply.Mean(),
                s.rail5.Mean(), s.rail3.Mean(), s.cpu.Mean());
    std::fprintf(file_,
                 "\nHousekeeping data:\n\tSupply: %.3lfV \261 %.2lfmV (+%.2lfmV, -%.2lfmV)\n"
                 "\t5V:     %.3lfV \261 %.2lfmV (+%.2lfmV, -%.2lfmV)\n"
                 "\t3V:     %.3lfV \261 %.2lfmV (+%.2lfmV, -%.2lfmV)\n"
                 "\tCPU:    %.3lf\260C \261 %.1lfmK (+%.1lfmK, -%.1lfmK)\n",
                 s.supply.Mean(), Milli(s.supply.StandardDeviation()), Milli(s.supply.UpperSpread()),
                 Milli(s.supply.LowerSpread()), s.rail5.Mean(), Milli(s.rail5.StandardDeviation()),
                 Milli(s.rail5.UpperSpread()), Milli(s.rail5.LowerSpread()), s.rail3.Mean(),
                 Milli(s.rail3.StandardDeviation()), Milli(s.rail3.UpperSpread()), Milli(s.rail3.LowerSpread()),
                 s.cpu.Mean(), Milli(s.cpu.StandardDeviation()), Milli(s.cpu.UpperSpread()),
                 Milli(s.cpu.LowerSpread()));
    console_.ClearToEndOfLine();
    std::printf("HV supply data: Positive: %.3lfV\tNegative: %.3lfV\tHeatsink: %.2lfdegC\n", s.positive.Mean(),
                s.negative.Mean(), s.heatsink.Mean());
    std::fprintf(file_,
                 "\nHV supply data:\n\tPositive: %.3lfV \261 %.1lfmV (+%.1fmV, -%.1fmV)\n"
                 "\tNegative: %.3lfV \261 %.1lfmV (+%.1fmV, -%.1fmV)\n"
                 "\tHeatsink: %.3lf\260C \261 %.1lfmK (+%.1lfmK, -%.1lfmK)\n",
                 s.positive.Mean(), Milli(s.positive.StandardDeviation()), Milli(s.positive.UpperSpread()),
                 Milli(s.positive.LowerSpread()), s.negative.Mean(), Milli(s.negative.StandardDeviation()),
                 Milli(s.negative.UpperSpread()), Milli(s.negative.LowerSpread()), s.heatsink.Mean(),
                 Milli(s.heatsink.StandardDeviation()), Milli(s.heatsink.UpperSpread()),
                 Milli(s.heatsink.LowerSpread()));
    return true;
  }

  static double Milli(double value) { return value * 1000; }

  bool SupplySample(int row, SupplyStatistics& s) {
    double supply = 0, rail5 = 0, rail3 = 0, cpu = 0;
    if (!Try("COM_ZOR4_Get_HousekeepingData",
             [&] { return COM_ZOR4_Get_HousekeepingData(kPort, &supply, &rail5, &rail3, &cpu); })) {
      return false;
    }
    LiveLine(row - 1, Format("Housekeeping data: Supply: %.3lfV, 5V: %.3lfV, 3V: %.3lfV, CPU: %.2lfdegC", supply,
                             rail5, rail3, cpu));
    s.supply.Add(supply);
    s.rail5.Add(rail5);
    s.rail3.Add(rail3);
    s.cpu.Add(cpu);
    double positive = 0, negative = 0, heatsink = 0;
    if (!Try("COM_ZOR4_Get_HVSupplyData",
             [&] { return COM_ZOR4_Get_HVSupplyData(kPort, &positive, &negative, &heatsink); })) {
      return false;
    }
    LiveLine(row, Format("HV supply data: Positive: %.3lfV, Negative: %.3lfV, Heatsink: %.2lfdegC", positive,
                         negative, heatsink));
    s.positive.Add(positive);
    s.negative.Add(negative);
    s.heatsink.Add(heatsink);
    return true;
  }

  bool SensorCurrent() {
    int32_t deadline = MillisecondClock();
    Debug("Getting sensor current:\n");
    const int row = console_.CursorRow();
    SampleStatistics current;
    for (int i = 0; i < kSupplySamples; ++i) {
      double amperes = 0;
      if (!Try("COM_ZOR4_Get_CurrentMonitor", [&] { return COM_ZOR4_Get_CurrentMonitor(kPort, &amperes); })) {
        return false;
      }
      LiveLine(row, Format("Sensor current: %+.3lEA", amperes));
      current.Add(amperes);
      Wait(deadline, kSampleInterval);
    }
    console_.PlaceCursor(1, row);
    console_.ClearToEndOfLine();
    std::printf("Sensor current: %+.3lEA\n", current.Mean());
    std::fprintf(file_, "\nSensor current: %+.3lEA \261 %.2lEA (+%.2lEA, -%.2lEA)\n", current.Mean(),
                 current.StandardDeviation(), current.UpperSpread(), current.LowerSpread());
    return true;
  }

  bool Interlock(bool& closed) {
    int32_t interlock = 0;
    Debug("Getting the interlock state:\n");
    if (!Try("COM_ZOR4_Get_InterlockState", [&] { return COM_ZOR4_Get_InterlockState(kPort, &interlock); })) {
      return false;
    }
    closed = interlock != 0;
    std::printf("Interlock is %s\n", closed ? "closed" : "open");
    std::fprintf(file_, "\nInterlock is %s\n", closed ? "closed" : "open");
    return true;
  }

  bool SaveSetVoltages() {
    std::fputs("Getting the set values of the output voltages:", stdout);
    for (unsigned i = 0; i < Channels(); ++i) {
      if (!Try("COM_ZOR4_Get_OutputVoltage",
               [&] { return COM_ZOR4_Get_OutputVoltage(kPort, static_cast<uint16_t>(i), &saved_[i]); })) {
        return false;
      }
      std::printf("\tCh%u: %+05.1lfV", i + 1, saved_[i]);
    }
    std::fputs("\n", stdout);
    std::fputs("\nSet output voltages:", file_);
    for (unsigned i = 0; i < Channels(); ++i) std::fprintf(file_, "\n\tCh%u: %+05.1lfV", i + 1, saved_[i]);
    std::fputs("\n", file_);
    return true;
  }

  bool SwitchOutputs() {
    outputs_touched_ = true;
    std::fputs("Setting output state:", stdout);
    if (!SetStates(1)) return false;
    std::fputs("\n", stdout);
    return true;
  }

  bool ResetOutputs() {
    std::fputs("Resetting output state:", stdout);
    if (!SetStates(0)) return false;
    std::fputs("\n", stdout);
    return true;
  }

  // Every channel to `state`, each entry with the state the call handed back.
  bool SetStates(int32_t state) {
    for (unsigned i = 0; i < Channels(); ++i) {
      int32_t confirmed = state;
      if (!Try("COM_ZOR4_Set_OutputState",
               [&] { return COM_ZOR4_Set_OutputState(kPort, static_cast<uint16_t>(i), &confirmed); })) {
        return false;
      }
      std::printf("\tCh%u: %s", i + 1, OnOff(confirmed));
    }
    return true;
  }

  bool RestoreVoltages() {
    std::fputs("Restoring output voltages:", stdout);
    for (unsigned i = 0; i < Channels(); ++i) {
      if (!Try("COM_ZOR4_Set_OutputVoltage",
               [&] { return COM_ZOR4_Set_OutputVoltage(kPort, static_cast<uint16_t>(i), &saved_[i]); })) {
        return false;
      }
      std::printf("\tCh%u: %+05.1lfV", i + 1, saved_[i]);
    }
    std::fputs("\n", stdout);
    return true;
  }

  // All channels stepped together from the lowest to the highest voltage, each step measured.
  bool TestVoltages() {
    std::fputs("Testing output voltages:\n", stdout);
    std::fputs("\nTesting output voltages:\n", file_);
    if (pause_) std::fputs("Press SPACE to proceed to the next value...\n", stdout);
    const double margin = skipped_ * step_;
    double voltage = caps_.lowest;
    bool first = true;
    while (voltage <= caps_.highest) {
      int32_t deadline = MillisecondClock();
      std::printf("Setting output voltages: %+05.1lfV\n", voltage);
      for (unsigned i = 0; i < Channels(); ++i) {
        if (!Try("COM_ZOR4_Set_OutputVoltage",
                 [&] { return COM_ZOR4_Set_OutputVoltage(kPort, static_cast<uint16_t>(i), &voltage); })) {
          return false;
        }
      }
      // A step too small for the device's grid would set this voltage again and again.
      if (!first && !(voltage > previous_)) {
        std::printf("The voltage step of %g V does not raise the set voltage above %+05.1lfV, stepping ended\n",
                    step_, previous_);
        break;
      }
      Wait(deadline, first ? kFirstSettling : kSettling);
      first = false;
      const bool considered = skipped_ == 0 || (caps_.lowest + margin - 0.5 < voltage &&
                                                voltage < caps_.highest - margin + 0.5);
      if (!MeasureStep(deadline, voltage, considered)) return false;
      previous_ = voltage;
      voltage += step_;
    }
    std::printf("Testing finished, maximum voltage difference between set and measured values: %.0lfmV\n",
                Milli(max_difference_));
    std::fprintf(file_, "Testing finished, maximum voltage difference between set and measured values: %.0lfmV\n",
                 Milli(max_difference_));
    if (skipped_ != 0) {
      std::printf("\toutput voltages from %+.1lfV to %+.1lfV considered\n", caps_.lowest + margin,
                  caps_.highest - margin);
      std::fprintf(file_, "\toutput voltages from %+.1lfV to %+.1lfV considered\n", caps_.lowest + margin,
                   caps_.highest - margin);
    }
    return true;
  }

  using StepStatistics = std::array<SampleStatistics, kMostChannels>;

  // Samples every 500 ms: ten of them, or in pause mode until SPACE (the sample before it counts).
  bool MeasureStep(int32_t& deadline, double voltage, bool considered) {
    StepStatistics statistics{};
    Debug("Getting the measured output voltages:\n");
    const int row = console_.CursorRow();
    for (int samples = 0; pause_ || samples < kStepSamples; ++samples) {
      if (!MeasureSample(row, statistics)) return false;
      deadline = AdvanceDeadline(deadline, kSampleInterval);
      if (!WaitOrSpace(console_, deadline, pause_)) break;
    }
    if (pause_) DiscardWaitingKeys(console_);
    console_.PlaceCursor(1, row);
    console_.ClearToEndOfLine();
    ReportStep(statistics, voltage, considered);
    return true;
  }

  bool MeasureSample(int row, StepStatistics& statistics) {
    std::array<double, kMostChannels> measured{};
    for (unsigned i = 0; i < Channels(); ++i) {
      if (!Try("COM_ZOR4_Get_OutputMonitor",
               [&] { return COM_ZOR4_Get_OutputMonitor(kPort, static_cast<uint16_t>(i), &measured[i]); })) {
        return false;
      }
    }
    std::string line = "Measured output voltages:";
    for (unsigned i = 0; i < Channels(); ++i) {
      line += Format(i == 0 ? " Ch%u: %+07.3lfV" : ", Ch%u: %+07.3lfV", i + 1, measured[i]);
      statistics[i].Add(measured[i]);
    }
    LiveLine(row, line);
    return true;
  }

  // The console shows the distances of the largest and the smallest sample from the set voltage,
  // the file the spread around the mean.
  void ReportStep(const StepStatistics& statistics, double voltage, bool considered) {
    std::fputs("Measured output voltages:", stdout);
    std::fprintf(file_, "Set: %+05.1lfV", voltage);
    for (unsigned i = 0; i < Channels(); ++i) {
      const SampleStatistics& s = statistics[i];
      const double low = std::fabs(s.Minimum() - voltage);
      const double high = std::fabs(s.Maximum() - voltage);
      if (considered) max_difference_ = std::max({max_difference_, low, high});
      std::printf("\tCh%u: %+07.3lfV +%.0fmV, -%.0fmV", i + 1, s.Mean(), Milli(high), Milli(low));
      std::fprintf(file_, "\tCh%u: %+08.4lfV \261 %.2lfmV (+%.1lfmV, -%.1lfmV)", i + 1, s.Mean(),
                   Milli(s.StandardDeviation()), Milli(s.UpperSpread()), Milli(s.LowerSpread()));
    }
    std::fputs("\n", stdout);
    std::fputs("\n", file_);
  }

  // After a failure with the outputs switched on: one try to switch every channel off and one to
  // give it back its saved set voltage, so no high voltage is left behind.
  void LeaveOutputsSafe() {
    std::fputs("Resetting output state after the failure:", stdout);
    for (unsigned i = 0; i < Channels(); ++i) {
      int32_t state = 0;
      if (COM_ZOR4_Set_OutputState(kPort, static_cast<uint16_t>(i), &state) == 0) {
        std::printf("\tCh%u: %s", i + 1, OnOff(state));
      } else {
        std::printf("\tCh%u: failed", i + 1);
      }
    }
    std::fputs("\nRestoring output voltages after the failure:", stdout);
    for (unsigned i = 0; i < Channels(); ++i) {
      double voltage = saved_[i];
      if (COM_ZOR4_Set_OutputVoltage(kPort, static_cast<uint16_t>(i), &voltage) == 0) {
        std::printf("\tCh%u: %+05.1lfV", i + 1, voltage);
      } else {
        std::printf("\tCh%u: failed", i + 1);
      }
    }
    std::fputs("\n", stdout);
  }

  Run& run_;
  Console& console_;
  std::FILE* file_;
  const double step_;
  const bool pause_;
  const int32_t skipped_;  // a negative count is taken as 0
  Capabilities caps_;
  std::array<double, kMostChannels> saved_{};
  double max_difference_ = 0;
  double previous_ = 0;  // the confirmed voltage of the step before
  bool outputs_touched_ = false;
};

}  // namespace

void CreateTestProtocol(Run& run, const std::string& file_name, double voltage_step, bool pause,
                        int32_t skipped_steps) {
  if (run.debug) std::fputs("Creating test protocol:\n", stdout);
  // A step that is not above 0 would never reach the highest voltage.
  if (!(voltage_step > 0)) {
    std::printf("Wrong voltage step specified: %g, it must be above 0 V\n", voltage_step);
    return;
  }
  std::FILE* file = std::fopen(file_name.c_str(), "w");
  if (file == nullptr) {
    std::printf("Cannot open the data file %s\n", file_name.c_str());
    return;
  }
  TestProtocol protocol(run, file, voltage_step, pause, skipped_steps);
  if (protocol.Execute()) {
    std::fputs("Test protocol finished\n", stdout);
    std::fputs("\nTest protocol finished\n", file);
  }
  if (std::fclose(file) != 0) std::printf("Cannot close the data file %s\n", file_name.c_str());
}

}  // namespace zortester
