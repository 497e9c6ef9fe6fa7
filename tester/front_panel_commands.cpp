// The device's front panel from the PC: keypad and encoder simulation, display dump.
#include "commands.h"

namespace zortester {

// To come: sends the arrow, Enter, Space and page keys to the device as keypad and encoder input until Esc.
void RunKeypadSimulation(Run&) {}

// To come: prints the display memory as hexadecimal text, in one piece or row by row.
void GetDisplayData(Run&, bool) {}

}  // namespace zortester
