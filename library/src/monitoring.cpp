// Monitoring readouts: housekeeping, high-voltage supply, interlock and the optional current sensor.
#include "COM-ZOR4.h"
#include "conversions.h"
#include "framing.h"

using namespace zor;

extern "C" {

int32_t COM_ZOR4_Get_HousekeepingData(uint16_t PortNumber, double* SupplyVoltage, double* Voltage5V,
                                      double* Voltage3V, double* CPUTemperature) {
  return DeviceCall(PortNumber, [&] {
    if (!SupplyVoltage || !Voltage5V || !Voltage3V || !CPUTemperature) {
      return RefuseArgument(PortNumber, "COM_ZOR4_Get_HousekeepingData", "NULL pointer");
    }
    if (const int32_t code = Exchange(PortNumber, 'H', nullptr, 16)) return code;
    // Last field first; each value is handed out as soon as it converts.
    const bool ok = TakeField(ReplyBuffer, 12, 4, CPUTemperature, Celsius) &&
                    TakeField(ReplyBuffer, 8, 4, Voltage3V, Milli) &&
                    TakeField(ReplyBuffer, 4, 4, Voltage5V, Milli) &&
                    TakeField(ReplyBuffer, 0, 4, SupplyVoltage, Milli);
    return ok ? 0 : -14;
  });
}

int32_t COM_ZOR4_Get_HVSupplyData(uint16_t PortNumber, double* PositiveVoltage,
                                  double* NegativeVoltage, double* HeatsinkTemperature) {
  return DeviceCall(PortNumber, [&] {
    if (!PositiveVoltage || !NegativeVoltage || !HeatsinkTemperature) {
      return RefuseArgument(PortNumber, "COM_ZOR4_Get_HVSupplyData", "NULL pointer");
    }
    if (const int32_t code = Exchange(PortNumber, 'S', nullptr, 14)) return code;
    const bool ok = TakeField(ReplyBuffer, 10, 4, HeatsinkTemperature, Celsius) &&
                    TakeField(ReplyBuffer, 5, 5, NegativeVoltage, Milli) &&
                    TakeField(ReplyBuffer, 0, 5, PositiveVoltage, Milli);
    return ok ? 0 : -14;
  });
}

int32_t COM_ZOR4_Get_InterlockState(uint16_t PortNumber, int32_t* Interlock) {
  return DeviceCall(PortNumber, [&] {
    if (Interlock == nullptr) return RefuseArgument(PortNumber, "COM_ZOR4_Get_InterlockState", "NULL pointer");
    int32_t closed = 0;
    if (const int32_t code = QueryBool(PortNumber, 'I', closed)) return code;
    *Interlock = closed;
    return 0;
  });
}

int32_t COM_ZOR4_Get_CurrentMonitor(uint16_t PortNumber, double* Current) {
  return DeviceCall(PortNumber, [&] {
    if (Current == nullptr) return RefuseArgument(PortNumber, "COM_ZOR4_Get_CurrentMonitor", "NULL pointer");
    const int32_t code = Exchange(PortNumber, 'C', nullptr, 8);
    // A device without the sensor answers with the terminator alone.
    if (code == -11 && ReplyLength == 1 && ReplyBuffer[0] == kTerminator) return -51;
    if (code != 0) return code;
    uint32_t raw = 0;
    if (!ScanHex(ReplyBuffer, raw)) return -14;
    *Current = Signed32(raw) * 1e-13;
    return 0;
  });
}

}  // extern "C"
