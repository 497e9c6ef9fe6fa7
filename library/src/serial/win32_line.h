// The Win32 backend's name rule, apart so that it can be checked without a COM port.
#pragma once

#include <string>

namespace zor {

// The name CreateFileA is given for a port name: "COM12" (any case) becomes "\\.\COM12", since
// ports above COM9 are reached only under their device name; every other name stays as it is.
std::string Win32DeviceName(const char* name);

}  // namespace zor
