/*
 * COM-ZOR4: control of ZORLINE multi-channel high-voltage amplifier controllers over RS-232.
 *
 * Every function that names a PortNumber (0 to 7) returns a status code: 0 for success, a negative
 * code for a failure (COM_ZOR4_ErrorMessage gives its text). A PortNumber above 7 returns -200 and
 * changes nothing. Calls into the library must never overlap, not even on different port slots:
 * all slots share one command and one reply buffer.
 */
#ifndef COM_ZOR4_H
#define COM_ZOR4_H

#include <stdint.h>

#include "com_zor4_export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Library frame: version and status queries. */
COM_ZOR4_API uint16_t COM_ZOR4_Version(void);
COM_ZOR4_API int32_t COM_ZOR4_State(uint16_t PortNumber);
COM_ZOR4_API const char* COM_ZOR4_ErrorMessage(uint16_t PortNumber);
COM_ZOR4_API int32_t COM_ZOR4_IO_State(uint16_t PortNumber);
COM_ZOR4_API const char* COM_ZOR4_IO_ErrorMessage(uint16_t PortNumber);

/* Debug file of a port slot. */
COM_ZOR4_API int32_t COM_ZOR4_OpenDebugFile(uint16_t PortNumber, const char* FileName);
COM_ZOR4_API int32_t COM_ZOR4_CloseDebugFile(uint16_t PortNumber);

/* Connection control. COM_ZOR4_Open opens COM<COMNumber> (COM1 is 1; /dev/ttyS0 on Linux) and
 * purges the line; COM_ZOR4_OpenByName opens a port by name: a device such as /dev/ttyUSB0, COM12
 * or \\.\COM12 on Windows, or a network serial port rfc2217://HOST:PORT. */
COM_ZOR4_API int32_t COM_ZOR4_Open(uint16_t PortNumber, uint8_t COMNumber);
COM_ZOR4_API int32_t COM_ZOR4_OpenByName(uint16_t PortNumber, const char* PortName);
COM_ZOR4_API int32_t COM_ZOR4_Close(uint16_t PortNumber);
COM_ZOR4_API int32_t COM_ZOR4_Purge(uint16_t PortNumber);
COM_ZOR4_API int32_t COM_ZOR4_Device_Purge(uint16_t PortNumber, int32_t* Purged);
COM_ZOR4_API int32_t COM_ZOR4_Buffer_State(uint16_t PortNumber, int32_t* Empty);

/* Output channels 0 to 4. The setting functions take the new value by address and hand back the
 * value the device confirmed. Voltages in V; set values on the 0.1 V grid, from -3276.8 V to
 * +3276.7 V (a value outside is refused with -15, nothing sent). A channel the device lacks: -50. */
COM_ZOR4_API int32_t COM_ZOR4_Get_OutputState(uint16_t PortNumber, uint16_t Channel, int32_t* State);
COM_ZOR4_API int32_t COM_ZOR4_Set_OutputState(uint16_t PortNumber, uint16_t Channel, int32_t* State);
COM_ZOR4_API int32_t COM_ZOR4_Get_OutputVoltage(uint16_t PortNumber, uint16_t Channel, double* Voltage);
COM_ZOR4_API int32_t COM_ZOR4_Set_OutputVoltage(uint16_t PortNumber, uint16_t Channel, double* Voltage);
COM_ZOR4_API int32_t COM_ZOR4_Get_OutputMonitor(uint16_t PortNumber, uint16_t Channel, double* Voltage);

/* Monitoring: volts, degrees Celsius, amperes. Interlock: 1 closed, 0 open. No sensor: -51. */
COM_ZOR4_API int32_t COM_ZOR4_Get_HousekeepingData(uint16_t PortNumber, double* SupplyVoltage,
                                                   double* Voltage5V, double* Voltage3V,
                                                   double* CPUTemperature);
COM_ZOR4_API int32_t COM_ZOR4_Get_HVSupplyData(uint16_t PortNumber, double* PositiveVoltage,
                                               double* NegativeVoltage, double* HeatsinkTemperature);
COM_ZOR4_API int32_t COM_ZOR4_Get_InterlockState(uint16_t PortNumber, int32_t* Interlock);
COM_ZOR4_API int32_t COM_ZOR4_Get_CurrentMonitor(uint16_t PortNumber, double* Current);

/* Front panel. The display is 1024 bytes (8 rows of 128); Display must hold 1024 or 128 bytes. */
COM_ZOR4_API int32_t COM_ZOR4_SimulateKeypad(uint16_t PortNumber, uint8_t KeyCode);
COM_ZOR4_API int32_t COM_ZOR4_SimulateEncoderButton(uint16_t PortNumber);
COM_ZOR4_API int32_t COM_ZOR4_SimulateEncoder(uint16_t PortNumber, uint8_t EncCode);
COM_ZOR4_API int32_t COM_ZOR4_ReadDisplay(uint16_t PortNumber, uint8_t* Display);
COM_ZOR4_API int32_t COM_ZOR4_ReadDisplayRow(uint16_t PortNumber, uint16_t Row, uint8_t* Display);

/* Identification. Date needs 12 bytes. COM_ZOR4_Prod_ID is not told the size of Identification
 * and needs 8192 bytes; COM_ZOR4_Prod_ID_Sized refuses (-15, nothing written) a text that does
 * not fit Size bytes with its NUL. */
COM_ZOR4_API int32_t COM_ZOR4_GetHardwareCapability(uint16_t PortNumber, uint8_t* Channels,
                                                    double* VoltageMin, double* VoltageMax,
                                                    double* Precision, int32_t* CurrentSensor,
                                                    double* ShutdownTemperature);
COM_ZOR4_API int32_t COM_ZOR4_GetUptime(uint16_t PortNumber, uint32_t* Seconds, uint16_t* Milliseconds);
COM_ZOR4_API int32_t COM_ZOR4_FW_Ver(uint16_t PortNumber, uint16_t* Version);
COM_ZOR4_API int32_t COM_ZOR4_FW_Date(uint16_t PortNumber, char* Date);
COM_ZOR4_API int32_t COM_ZOR4_Prod_ID(uint16_t PortNumber, char* Identification);
COM_ZOR4_API int32_t COM_ZOR4_Prod_ID_Sized(uint16_t PortNumber, char* Identification, uint32_t Size);
COM_ZOR4_API int32_t COM_ZOR4_Prod_No(uint16_t PortNumber, int32_t* Number);

#ifdef __cplusplus
}
#endif

#endif
