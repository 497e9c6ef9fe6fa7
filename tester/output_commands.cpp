// Output control: set a channel's voltage or state, cycle a channel between two voltages.
#include "commands.h"

namespace zortester {

// To come: tests channel and voltage against the capabilities, sets the voltage and prints the confirmed one.
void SetOutputVoltage(Run&, uint16_t, double) {}

// To come: tests the channel against the capabilities, switches one channel or all (0) and prints the states.
void SetOutputState(Run&, uint16_t, bool) {}

// To come: alternates the channel between maximum and minimum on a fixed schedule until SPACE.
void CycleOutputVoltage(Run&, uint16_t, double, double, uint32_t) {}

}  // namespace zortester
