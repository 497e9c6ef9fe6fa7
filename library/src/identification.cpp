// What the device is and can do: capabilities, uptime, firmware version and date, product data.
#include <cstdio>
#include <cstring>

#include "COM-ZOR4.h"
#include "conversions.h"
#include "debug_file.h"
#include "framing.h"

namespace zor {
namespace {

constexpr uint32_t kMaxChannels = 5;

// The product identification of any length up to the terminator, left in ReplyBuffer.
int32_t ReadIdentification(uint16_t PortNumber) { return Exchange(PortNumber, 'P', nullptr, 0); }

}  // namespace
}  // namespace zor

using namespace zor;

extern "C" {

int32_t COM_ZOR4_GetHardwareCapability(uint16_t PortNumber, uint8_t* Channels, double* VoltageMin,
                                       double* VoltageMax, double* Precision,
                                       int32_t* CurrentSensor, double* ShutdownTemperature) {
  return DeviceCall(PortNumber, [&] {
    if (!Channels || !VoltageMin || !VoltageMax || !Precision || !CurrentSensor ||
        !ShutdownTemperature) {
      return RefuseArgument(PortNumber, "COM_ZOR4_GetHardwareCapability", "NULL pointer");
    }
    if (const int32_t code = Exchange(PortNumber, 'W', nullptr, 26)) return code;
    const auto volts = [](uint32_t raw) { return Signed32(raw) * 0.001; };
    const auto channels = [](uint32_t raw) { return raw; };
    uint32_t count = 0;
    // Last field first; each value is handed out as soon as it converts.
    const bool ok = TakeFlag(ReplyBuffer[25], CurrentSensor) &&
                    TakeField(ReplyBuffer, 21, 4, Precision,
                              [](uint32_t raw) { return Signed16(raw) * 0.001; }) &&
                    TakeField(ReplyBuffer, 13, 8, VoltageMax, volts) &&
                    TakeField(ReplyBuffer, 5, 8, VoltageMin, volts) &&
                    TakeField(ReplyBuffer, 1, 4, ShutdownTemperature, Celsius) &&
                    TakeField(ReplyBuffer, 0, 1, &count, channels) && count <= kMaxChannels;
    if (!ok) return -14;
    *Channels = static_cast<uint8_t>(count);
    return 0;
  });
}

int32_t COM_ZOR4_GetUptime(uint16_t PortNumber, uint32_t* Seconds, uint16_t* Milliseconds) {
  return DeviceCall(PortNumber, [&] {
    if (!Seconds || !Milliseconds) return RefuseArgument(PortNumber, "COM_ZOR4_GetUptime", "NULL pointer");
    if (const int32_t code = Exchange(PortNumber, 'U', nullptr, 10)) return code;
    uint32_t fraction = 0, seconds = 0;
    if (!HexField(ReplyBuffer, 8, 2, fraction) || !HexField(ReplyBuffer, 0, 8, seconds)) {
      return ReportWrongArgument(PortNumber, "COM_ZOR4_GetUptime: Wrong argument received:",
                                 "Cannot obtain parameters\n");
    }
    *Seconds = seconds;
    // The fraction counts 1/256 s.
    *Milliseconds = static_cast<uint16_t>(((fraction & 0xFF) * 1000) >> 8);
    return 0;
  });
}

int32_t COM_ZOR4_FW_Ver(uint16_t PortNumber, uint16_t* Version) {
  return DeviceCall(PortNumber, [&] {
    if (Version == nullptr) return RefuseArgument(PortNumber, "COM_ZOR4_FW_Ver", "Version=NULL");
    uint32_t number = 0;
    if (const int32_t code = QueryInt(PortNumber, 'V', 4, number)) return code;
    *Version = static_cast<uint16_t>(number);
    return 0;
  });
}

int32_t COM_ZOR4_FW_Date(uint16_t PortNumber, char* Date) {
  return DeviceCall(PortNumber, [&] {
    if (Date == nullptr) return RefuseArgument(PortNumber, "COM_ZOR4_FW_Date", "Date=NULL");
    if (const int32_t code = Exchange(PortNumber, 'D', nullptr, 11)) return code;
    std::memcpy(Date, ReplyBuffer, 12);
    return 0;
  });
}

int32_t COM_ZOR4_Prod_ID(uint16_t PortNumber, char* Identification) {
  return DeviceCall(PortNumber, [&] {
    if (Identification == nullptr) {
      return RefuseArgument(PortNumber, "COM_ZOR4_Prod_ID", "Identification=NULL");
    }
    if (const int32_t code = ReadIdentification(PortNumber)) return code;
    std::memcpy(Identification, ReplyBuffer, std::strlen(ReplyBuffer) + 1);
    return 0;
  });
}

int32_t COM_ZOR4_Prod_ID_Sized(uint16_t PortNumber, char* Identification, uint32_t Size) {
  static constexpr const char* kName = "COM_ZOR4_Prod_ID_Sized";
  return DeviceCall(PortNumber, [&] {
    if (Identification == nullptr || Size == 0) {
      return RefuseArgument(PortNumber, kName, "Identification=%p, Size=%lu",
                            static_cast<void*>(Identification), static_cast<unsigned long>(Size));
    }
    if (const int32_t code = ReadIdentification(PortNumber)) return code;
    const size_t needed = std::strlen(ReplyBuffer) + 1;
    if (needed > Size) {
      return RefuseArgument(PortNumber, kName, "Size=%lu, %lu bytes needed",
                            static_cast<unsigned long>(Size), static_cast<unsigned long>(needed));
    }
    std::memcpy(Identification, ReplyBuffer, needed);
    return 0;
  });
}

int32_t COM_ZOR4_Prod_No(uint16_t PortNumber, int32_t* Number) {
  return DeviceCall(PortNumber, [&] {
    if (Number == nullptr) return RefuseArgument(PortNumber, "COM_ZOR4_Prod_No", "Number=NULL");
    uint32_t number = 0;
    if (const int32_t code = QueryInt(PortNumber, 'N', 8, number)) return code;
    *Number = static_cast<int32_t>(number);
    return 0;
  });
}

}  // extern "C"
