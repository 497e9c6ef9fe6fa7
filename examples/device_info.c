/* Prints what a ZORLINE device reports about itself, through the library's C interface.
 * Usage: device_info PORT   (for example /dev/ttyUSB0 or rfc2217://127.0.0.1:4001) */
#include <stdio.h>

#include "COM-ZOR4.h"

enum { kSlot = 0 };

static int Check(int32_t status, const char* what) {
  if (status == 0) return 1;
  printf("%s failed: %d %s (port: %s)\n", what, (int)status, COM_ZOR4_ErrorMessage(kSlot),
         COM_ZOR4_IO_ErrorMessage(kSlot));
  return 0;
}

int main(int argc, char** argv) {
  uint8_t channels = 0;
  double vmin = 0, vmax = 0, precision = 0, shutdown = 0;
  int32_t sensor = 0, interlock = 0;
  double supply = 0, v5 = 0, v3 = 0, cpu = 0, pos = 0, neg = 0, heatsink = 0;
  uint16_t version = 0;
  char id[8192];
  if (argc != 2) {
    fprintf(stderr, "usage: %s PORT\n", argv[0]);
    return 2;
  }
  printf("COM-ZOR4 library version %d.%02d\n", COM_ZOR4_Version() >> 8, COM_ZOR4_Version() & 0xFF);
  if (!Check(COM_ZOR4_OpenByName(kSlot, argv[1]), "Opening the port")) return 1;
  if (Check(COM_ZOR4_Prod_ID_Sized(kSlot, id, sizeof id), "Product identification")) {
    printf("Device: %s\n", id);
  }
  if (Check(COM_ZOR4_FW_Ver(kSlot, &version), "Firmware version")) {
    printf("Firmware: %d.%02d\n", version >> 8, version & 0xFF);
  }
  if (Check(COM_ZOR4_GetHardwareCapability(kSlot, &channels, &vmin, &vmax, &precision, &sensor,
                                           &shutdown),
            "Hardware capabilities")) {
    printf("Channels: %u, range %.1f V to %.1f V in steps of %.3f V, current sensor: %s, "
           "shutdown at %.2f degC\n",
           channels, vmin, vmax, precision, sensor ? "yes" : "no", shutdown);
  }
  if (Check(COM_ZOR4_Get_HousekeepingData(kSlot, &supply, &v5, &v3, &cpu), "Housekeeping")) {
    printf("Supply %.3f V, 5 V rail %.3f V, 3 V rail %.3f V, CPU %.2f degC\n", supply, v5, v3, cpu);
  }
  if (Check(COM_ZOR4_Get_HVSupplyData(kSlot, &pos, &neg, &heatsink), "High-voltage supply")) {
    printf("High voltage +%.3f V / -%.3f V, heatsink %.2f degC\n", pos, neg, heatsink);
  }
  if (Check(COM_ZOR4_Get_InterlockState(kSlot, &interlock), "Interlock")) {
    printf("Interlock: %s\n", interlock ? "closed" : "open");
  }
  for (uint16_t ch = 0; ch < channels; ++ch) {
    int32_t on = 0;
    double set = 0, measured = 0;
    if (Check(COM_ZOR4_Get_OutputState(kSlot, ch, &on), "Output state") &&
        Check(COM_ZOR4_Get_OutputVoltage(kSlot, ch, &set), "Set voltage") &&
        Check(COM_ZOR4_Get_OutputMonitor(kSlot, ch, &measured), "Measured voltage")) {
      printf("Channel %u: %s, set %.1f V, measured %.3f V\n", ch + 1, on ? "on" : "off", set,
             measured);
    }
  }
  Check(COM_ZOR4_Close(kSlot), "Closing the port");
  return 0;
}
