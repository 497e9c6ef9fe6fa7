// One serial port of the COM-ZOR4 library: line settings, bounded reads and writes, modem lines.
#ifndef COM_ZOR4_COMPORT_H
#define COM_ZOR4_COMPORT_H

#include <cstdint>
#include <cstdio>

#include "com_zor4_export.h"

namespace zor {
class Line;
}

class COM_ZOR4_API COMPort {
public:
  static constexpr uint32_t ReceiveBufferSize = 8192;

  COMPort();
  ~COMPort();
  COMPort(const COMPort&) = delete;
  COMPort& operator=(const COMPort&) = delete;

  // Opens COM<COMNumber> under the platform's name for it (COM1 is /dev/ttyS0 on Linux).
  bool Open(uint8_t COMNumber);
  // Opens a port by its name: a device path, or rfc2217://HOST:PORT for a network serial port.
  bool Open(const char* PortName);
  bool Close();
  bool Purge();
  bool ResetCommTimeout();
  bool SetCommTimeout();
  bool DeviceReady();
  bool DataAvailable();
  bool ReadFile(char* data, uint32_t count, uint32_t& Received, bool StopAtTerminator);
  bool Read(char& c, bool SkipReadyCheck);
  bool Read(char* data, uint32_t& count, bool SkipReadyCheck, bool StopAtTerminator);
  bool Write(char c);
  bool Write(const char* const data, unsigned int count);
  bool WaitWriteBufferEmpty();
  bool Control(bool DTR, bool RTS);
  bool Status(bool& CTS, bool& DSR, bool& RING, bool& DCD);
  const char* ErrorMessage();
  void WriteDebugTime();
  void WriteCOMError();

  // Set and cleared by the debug-file functions only; the port does not own the stream.
  FILE* DebugFile;
  // The open platform line, or nullptr while the port is closed.
  zor::Line* Handle;
  int32_t PortError;
  uint32_t CommErrors;
  char ReceiveBuffer[ReceiveBufferSize];
  uint32_t ReceiveCount;

private:
  bool OpenLine(const char* PortName);
  bool ReadPlatform(char* data, uint32_t count, uint32_t& got, bool StopAtTerminator);
  void Debug(const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 2, 3)))
#endif
      ;
};

#endif
