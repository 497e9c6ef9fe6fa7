// The debug file of a port slot: its header and closing entry, time stamps, line errors, dumps.
#pragma once

#include <cstdint>
#include <cstdio>

#include "slots.h"

namespace zor {

// Closes the slot's debug file with its closing entry; -401 (stored) when the close failed.
int32_t CloseSlotDebugFile(PortSlot& slot);

// The dump of received bytes: printable ones as themselves, others as \xNN.
void WriteDataDump(FILE* file, const char* data, uint32_t length);

// Writes a time stamp and the message into the port's debug file, if it has one.
void DebugLine(COMPort& port, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

}  // namespace zor
