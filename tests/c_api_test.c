/* The public header compiled as C, calling the library's exported functions. */
#include <stdio.h>
#include <string.h>

#include "COM-ZOR4.h"

static int failures = 0;

#define CHECK(cond)                                                   \
  do {                                                                \
    if (!(cond)) {                                                    \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      ++failures;                                                     \
    }                                                                 \
  } while (0)

int main(void) {
  int32_t value = 5;
  CHECK(COM_ZOR4_Version() == 266);
  CHECK(COM_ZOR4_State(0) == 0);
  CHECK(strcmp(COM_ZOR4_ErrorMessage(0), "No error") == 0);
  CHECK(COM_ZOR4_IO_State(0) == 1);
  CHECK(strcmp(COM_ZOR4_IO_ErrorMessage(0), "Port has not been opened yet") == 0);
  CHECK(COM_ZOR4_State(8) == -200);
  CHECK(strcmp(COM_ZOR4_ErrorMessage(8), "PortNumber out of range") == 0);
  CHECK(COM_ZOR4_OpenDebugFile(9, "x") == -200);
  CHECK(COM_ZOR4_CloseDebugFile(1) == 0);
  CHECK(COM_ZOR4_Open(8, 1) == -200);
  CHECK(COM_ZOR4_OpenByName(1, "") == -15);
  CHECK(COM_ZOR4_Close(1) == -3);
  CHECK(COM_ZOR4_Purge(1) == -5);
  CHECK(COM_ZOR4_Device_Purge(1, &value) == -6);
  CHECK(COM_ZOR4_Buffer_State(1, &value) == -6);
  CHECK(value == 5);
  CHECK(strcmp(COM_ZOR4_ErrorMessage(1), "Error reading the port status lines") == 0);
  {
    double d = 1.5, e = 1.5, f = 1.5, g = 1.5, h = 1.5;
    uint8_t channels = 9, display[1024];
    uint16_t ms = 9, version = 9;
    uint32_t seconds = 9;
    char text[8192];
    CHECK(COM_ZOR4_Get_OutputState(1, 0, &value) == -6);
    CHECK(COM_ZOR4_Set_OutputState(1, 5, &value) == -15);
    CHECK(COM_ZOR4_Get_OutputVoltage(1, 0, &d) == -6);
    CHECK(COM_ZOR4_Set_OutputVoltage(1, 0, &d) == -6);
    CHECK(COM_ZOR4_Get_OutputMonitor(1, 0, &d) == -6);
    CHECK(COM_ZOR4_Get_HousekeepingData(1, &d, &e, &f, &g) == -6);
    CHECK(COM_ZOR4_Get_HVSupplyData(1, &d, &e, &f) == -6);
    CHECK(COM_ZOR4_Get_InterlockState(1, &value) == -6);
    CHECK(COM_ZOR4_Get_CurrentMonitor(1, &d) == -6);
    CHECK(COM_ZOR4_SimulateKeypad(1, 0x04) == -6);
    CHECK(COM_ZOR4_SimulateEncoderButton(1) == -6);
    CHECK(COM_ZOR4_SimulateEncoder(1, 16) == -15);
    CHECK(COM_ZOR4_ReadDisplay(1, display) == -6);
    CHECK(COM_ZOR4_ReadDisplayRow(1, 8, display) == -15);
    CHECK(COM_ZOR4_GetHardwareCapability(1, &channels, &d, &e, &f, &value, &h) == -6);
    CHECK(COM_ZOR4_GetUptime(1, &seconds, &ms) == -6);
    CHECK(COM_ZOR4_FW_Ver(1, &version) == -6);
    CHECK(COM_ZOR4_FW_Date(1, text) == -6);
    CHECK(COM_ZOR4_Prod_ID(1, text) == -6);
    CHECK(COM_ZOR4_Prod_ID_Sized(1, text, sizeof text) == -6);
    CHECK(COM_ZOR4_Prod_No(1, &value) == -6);
    CHECK(value == 5 && d == 1.5 && channels == 9 && version == 9 && seconds == 9 && ms == 9);
  }
  if (failures == 0) printf("C interface: all checks passed\n");
  return failures == 0 ? 0 : 1;
}
