// The tester's commands, started by switches and keys. Each prints its own results and errors;
// the port is open when they run.
#pragma once

#include <cstdint>
#include <string>

#include "run.h"

namespace zortester {

// Readouts.
void GetBufferStatus(Run& run);
void PurgeCommunication(Run& run);
void GetUptime(Run& run);
void GetFirmwareDate(Run& run);
void GetFirmwareVersion(Run& run);
void GetProductIdentification(Run& run);
void GetProductNumber(Run& run);
void GetHousekeepingData(Run& run);
void GetHVSupplyData(Run& run);
void GetInterlockState(Run& run);
void GetSensorCurrent(Run& run);
void GetHardwareCapabilities(Run& run);
void GetOutputVoltages(Run& run);
void GetMeasuredOutputVoltages(Run& run);
void GetOutputState(Run& run);

// Output control; channels counted from 1 (0: all channels, for the state).
void SetOutputVoltage(Run& run, uint16_t channel, double voltage);
void SetOutputState(Run& run, uint16_t channel, bool on);
void CycleOutputVoltage(Run& run, uint16_t channel, double minimum, double maximum, uint32_t period_ms);

// Front panel.
void RunKeypadSimulation(Run& run);
void GetDisplayData(Run& run, bool whole_display);

// Test protocol.
void CreateTestProtocol(Run& run, const std::string& file_name, double voltage_step, bool pause,
                        int32_t skipped_steps);

// The uptime as the readout prints it: "1:02:05.50 sec.", "1:00.00 sec.", "59.99 sec.".
std::string FormatUptime(uint32_t seconds, uint16_t milliseconds);

}  // namespace zortester
