// Prints the state of a ZORLINE device's output channels, through the library's C interface from
// C++: a port slot held by an object, failures as exceptions. It only reads; no output changes.
// Usage: channels PORT   (for example /dev/ttyUSB0, COM12 or rfc2217://127.0.0.1:4001)
#include <cstdint>
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <string>

#include "COM-ZOR4.h"

namespace {

// One port slot of the library, open for the object's lifetime.
class Device {
public:
  Device(uint16_t slot, const std::string& port) : slot_(slot) {
    Check(COM_ZOR4_OpenByName(slot_, port.c_str()), "opening " + port);
  }
  ~Device() { COM_ZOR4_Close(slot_); }
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  // Throws with the library's texts when a call failed.
  void Check(int32_t status, const std::string& what) const {
    if (status == 0) return;
    throw std::runtime_error(what + " failed: " + std::to_string(status) + " " + COM_ZOR4_ErrorMessage(slot_) +
                             " (port: " + COM_ZOR4_IO_ErrorMessage(slot_) + ")");
  }

  uint16_t slot() const { return slot_; }

private:
  uint16_t slot_;
};

void PrintChannels(const Device& device) {
  const uint16_t slot = device.slot();
  uint8_t channels = 0;
  double vmin = 0, vmax = 0, precision = 0, shutdown = 0;
  int32_t sensor = 0;
  device.Check(COM_ZOR4_GetHardwareCapability(slot, &channels, &vmin, &vmax, &precision, &sensor, &shutdown),
               "reading the capabilities");
  uint32_t seconds = 0;
  uint16_t milliseconds = 0;
  device.Check(COM_ZOR4_GetUptime(slot, &seconds, &milliseconds), "reading the uptime");
  std::printf("%u channels, %.1f V to %.1f V, up for %u.%03u s\n", unsigned{channels}, vmin, vmax, unsigned{seconds},
              unsigned{milliseconds});
  for (uint16_t channel = 0; channel < channels; ++channel) {
    int32_t on = 0;
    double set = 0, measured = 0;
    device.Check(COM_ZOR4_Get_OutputState(slot, channel, &on), "reading the output state");
    device.Check(COM_ZOR4_Get_OutputVoltage(slot, channel, &set), "reading the set voltage");
    device.Check(COM_ZOR4_Get_OutputMonitor(slot, channel, &measured), "reading the measured voltage");
    std::printf("Channel %d: %-3s set %8.1f V, measured %9.3f V\n", channel + 1, on != 0 ? "on" : "off", set,
                measured);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s PORT\n", argv[0]);
    return 2;
  }
  try {
    const Device device(0, argv[1]);
    PrintChannels(device);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
  return 0;
}
