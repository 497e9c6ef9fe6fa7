#include "run.h"

#include <cstdio>

#include "COM-ZOR4.h"

namespace zortester {

void PrintErrorLine(const char* label) {
  std::printf("Error at %s: %s, I/O Error Message: %s\n", label, COM_ZOR4_ErrorMessage(kPort),
              COM_ZOR4_IO_ErrorMessage(kPort));
}

void PrintStatusText() { std::printf("%s\n", COM_ZOR4_ErrorMessage(kPort)); }

}  // namespace zortester
