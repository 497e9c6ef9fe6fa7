// A run of the tester: the command line, the port, the key loop and the closing.
#pragma once

#include <string>

#include "console.h"

namespace zortester {

// The exit status of the run: 0 after Esc or the T switch, -1 for a rejected command line or a
// library below 1.00, -2 when the port does not open.
int RunProgram(int argc, const char* const* argv, Console& console);

// The program's name as the usage text shows it: the file name without its directory, up to the
// first ".".
std::string ProgramName(const char* path);

}  // namespace zortester
