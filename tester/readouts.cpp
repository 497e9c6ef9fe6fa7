// The readout commands: one group of values from the device, printed on one line (the hardware
// capabilities on six).
#include <cstdio>
#include <optional>

#include "COM-ZOR4.h"
#include "commands.h"

namespace zortester {
namespace {

// The debug heading, then the library call; on failure the error line with `label`, or the short
// form without one.
template <typename Call>
bool Read(const Run& run, const char* heading, const char* label, Call&& call) {
  if (run.debug) std::fputs(heading, stdout);
  if (call() == 0) return true;
  if (label != nullptr) {
    PrintErrorLine(label);
  } else {
    PrintStatusText();
  }
  return false;
}

std::optional<unsigned> ChannelCount() {
  uint8_t channels = 0;
  double minimum = 0, maximum = 0, precision = 0, shutdown = 0;
  int32_t sensor = 0;
  if (COM_ZOR4_GetHardwareCapability(kPort, &channels, &minimum, &maximum, &precision, &sensor,
                                     &shutdown) != 0) {
    PrintErrorLine("COM_ZOR4_GetHardwareCapability");
    return std::nullopt;
  }
  return channels;
}

// The title and one entry per channel on one line; a failing channel ends the line with its error.
template <typename Entry>
void ChannelList(const Run& run, const char* heading, const char* title, const char* label, Entry&& entry) {
  if (run.debug) std::fputs(heading, stdout);
  const auto channels = ChannelCount();
  if (!channels) return;
  std::fputs(title, stdout);
  for (unsigned i = 0; i < *channels; ++i) {
    if (!entry(static_cast<uint16_t>(i))) {
      PrintErrorLine(label);
      return;
    }
  }
  std::fputs("\n", stdout);
}

const char* OnOff(int32_t on) { return on != 0 ? "on " : "off"; }

}  // namespace

std::string FormatUptime(uint32_t seconds, uint16_t milliseconds) {
  const auto hours = static_cast<int>(seconds / 3600);
  const auto minutes = static_cast<int>(seconds % 3600 / 60);
  const auto rest = static_cast<int>(seconds % 60);
  const int hundredths = milliseconds / 10;
  char text[64];
  if (hours > 0) {
    std::snprintf(text, sizeof text, "%d:%02d:%02d.%02d sec.", hours, minutes, rest, hundredths);
  } else if (minutes > 0) {
    std::snprintf(text, sizeof text, "%d:%02d.%02d sec.", minutes, rest, hundredths);
  } else {
    std::snprintf(text, sizeof text, "%d.%02d sec.", rest, hundredths);
  }
  return text;
}

void GetBufferStatus(Run& run) {
  int32_t empty = 0;
  if (!Read(run, "Getting the buffer status of the device...\n", nullptr,
            [&] { return COM_ZOR4_Buffer_State(kPort, &empty); })) {
    return;
  }
  const char* field = empty != 0 ? "" : "not ";
  if (run.debug) {
    std::printf("Buffer of the device is %sempty\n", field);
  } else if (!run.quiet) {
    std::printf("Buffer is %sempty\n", field);
  }
}

void PurgeCommunication(Run& run) {
  int32_t purged = 0;
  if (!Read(run, "Purging the buffers of the communication port...\n", nullptr, [&] {
        const int32_t status = COM_ZOR4_Purge(kPort);
        return status != 0 ? status : COM_ZOR4_Device_Purge(kPort, &purged);
      })) {
    return;
  }
  if (purged == 0) std::fputs("Buffer of the communication port could not be purged\n", stdout);
  const char* field = purged != 0 ? "" : "not ";
  if (run.debug) {
    std::printf("Buffers of the communication port were %spurged\n", field);
  } else if (!run.quiet) {
    std::printf("Port %spurged\n", field);
  }
}

void GetUptime(Run& run) {
  uint32_t seconds = 0;
  uint16_t milliseconds = 0;
  if (Read(run, "Getting the device uptime:\n", "COM_ZOR4_GetUptime",
           [&] { return COM_ZOR4_GetUptime(kPort, &seconds, &milliseconds); })) {
    std::printf("Device uptime: %s\n", FormatUptime(seconds, milliseconds).c_str());
  }
}

void GetFirmwareDate(Run& run) {
  char date[64] = {};
  if (Read(run, "Getting the firmware date:\n", "COM_ZOR4_FW_Date", [&] { return COM_ZOR4_FW_Date(kPort, date); })) {
    std::printf("Firmware date: %s\n", date);
  }
}

void GetFirmwareVersion(Run& run) {
  uint16_t version = 0;
  if (Read(run, "Getting the firmware version:\n", "COM_ZOR4_FW_Ver", [&] { return COM_ZOR4_FW_Ver(kPort, &version); })) {
    std::printf("Firmware version: %d.%02d\n", version >> 8, version & 0xFF);
  }
}

void GetProductIdentification(Run& run) {
  char identification[8192] = {};  // the longest identification the device can send, and its NUL
  if (Read(run, "Getting the product identification:\n", "COM_ZOR4_prod_ID",
           [&] { return COM_ZOR4_Prod_ID(kPort, identification); })) {
    std::printf("Product identification: %s\n", identification);
  }
}

void GetProductNumber(Run& run) {
  int32_t number = 0;
  if (Read(run, "Getting the product number:\n", "COM_ZOR4_Prod_No", [&] { return COM_ZOR4_Prod_No(kPort, &number); })) {
    std::printf("Product number: %d\n", number);
  }
}

void GetHousekeepingData(Run& run) {
  double supply = 0, rail5 = 0, rail3 = 0, cpu = 0;
  if (Read(run, "Getting the housekeeping data:\n", "COM_ZOR4_Get_HousekeepingData",
           [&] { return COM_ZOR4_Get_HousekeepingData(kPort, &supply, &rail5, &rail3, &cpu); })) {
    std::printf("Housekeeping data: Supply: %.3lfV\t5V: %.3lfV\t3V: %.3lfV\tCPU: %.2lfdegC\n", supply, rail5, rail3, cpu);
  }
}

void GetHVSupplyData(Run& run) {
  double positive = 0, negative = 0, heatsink = 0;
  if (Read(run, "Getting the HV supply data:\n", "COM_ZOR4_Get_HVSupplyData",
           [&] { return COM_ZOR4_Get_HVSupplyData(kPort, &positive, &negative, &heatsink); })) {
    std::printf("HV supply data: Positive: %.3lfV\tNegative: %.3lfV\tHeatsink: %.2lfdegC\n", positive, negative, heatsink);
  }
}

void GetInterlockState(Run& run) {
  int32_t closed = 0;
  if (Read(run, "Getting the interlock state:\n", "COM_ZOR4_Get_InterlockState",
           [&] { return COM_ZOR4_Get_InterlockState(kPort, &closed); })) {
    std::printf("Interlock is %s\n", closed != 0 ? "closed" : "open");
  }
}

void GetSensorCurrent(Run& run) {
  double current = 0;
  if (Read(run, "Getting sensor current:\n", "COM_ZOR4_Get_CurrentMonitor",
           [&] { return COM_ZOR4_Get_CurrentMonitor(kPort, &current); })) {
    std::printf("Sensor current: %+.3lEA\n", current);
  }
}

void GetHardwareCapabilities(Run& run) {
  uint8_t channels = 0;
  double minimum = 0, maximum = 0, precision = 0, shutdown = 0;
  int32_t sensor = 0;
  if (Read(run, "Getting hardware capabilities:\n", "COM_ZOR4_GetHardwareCapability", [&] {
        return COM_ZOR4_GetHardwareCapability(kPort, &channels, &minimum, &maximum, &precision, &sensor, &shutdown);
      })) {
    std::printf("Hardware capabilities:\n\tNumber of channels: %u\n\tOutput voltage range: %+.0lfV..%+.0lfV\n"
                "\tPrecision: %.3lfV\n\tCurrent sensor: %s\n\tShutdown temperature: %.0lfdegC\n",
                static_cast<unsigned>(channels), minimum, maximum, precision,
                sensor != 0 ? "installed" : "not installed", shutdown);
  }
}

void GetOutputVoltages(Run& run) {
  ChannelList(run, "Getting the output voltages:\n", "Output voltages:", "COM_ZOR4_Get_OutputVoltage",
              [](uint16_t channel) {
                double voltage = 0;
                if (COM_ZOR4_Get_OutputVoltage(kPort, channel, &voltage) != 0) return false;
                std::printf("\tCh%d: %.1lfV", channel + 1, voltage);
                return true;
              });
}

void GetMeasuredOutputVoltages(Run& run) {
  ChannelList(run, "Getting the measured output voltages:\n", "Measured output voltages:",
              "COM_ZOR4_Get_OutputMonitor", [](uint16_t channel) {
                double voltage = 0;
                if (COM_ZOR4_Get_OutputMonitor(kPort, channel, &voltage) != 0) return false;
                std::printf("\tCh%d: %.3lfV", channel + 1, voltage);
                return true;
              });
}

void GetOutputState(Run& run) {
  ChannelList(run, "Getting the output state:\n", "Output state:", "COM_ZOR4_Get_OutputState",
              [](uint16_t channel) {
                int32_t on = 0;
                if (COM_ZOR4_Get_OutputState(kPort, channel, &on) != 0) return false;
                std::printf("\tCh%d: %s", channel + 1, OnOff(on));
                return true;
              });
}

}  // namespace zortester
