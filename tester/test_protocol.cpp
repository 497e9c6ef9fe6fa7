// The automated test of a device, recorded in a test protocol file.
#include "commands.h"

namespace zortester {

// To come: records the supply statistics, steps all outputs through their range and writes the protocol.
void CreateTestProtocol(Run&, const std::string&, double, bool, int32_t) {}

}  // namespace zortester
