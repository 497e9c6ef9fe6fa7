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
  if (failures == 0) printf("C interface: all checks passed\n");
  return failures == 0 ? 0 : 1;
}
