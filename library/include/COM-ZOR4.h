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

#ifdef __cplusplus
}
#endif

#endif
