// The eight port slots of the library, their last status codes and the texts of those codes.
#pragma once

#include <cstdint>

#include "COMPort.h"

namespace zor {

inline constexpr uint16_t kSlotCount = 8;

struct PortSlot {
  COMPort* Port;       // empty only when it could not be created at load
  int32_t LastStatus;
};

inline constexpr int32_t kPortNumberOutOfRange = -200;
inline constexpr int32_t kNoPortMemory = -300;

// Creates the port of a slot at load; tests hand in one that fails to show the empty-slot paths.
using PortFactory = COMPort* (*)(uint16_t PortNumber);

void LoadSlots(PortFactory factory = nullptr);
// Closes every open debug file with its closing entry, then destroys the ports.
void UnloadSlots();

// The slot of a PortNumber, or nullptr above 7.
PortSlot* FindSlot(uint16_t PortNumber);

// The slot convention: -200 above 7 (nothing stored), -300 stored for a slot without port, else 0.
int32_t EnterSlot(uint16_t PortNumber, PortSlot*& slot);

// Stores code as the slot's last status and returns it.
inline int32_t Store(PortSlot& slot, int32_t code) {
  slot.LastStatus = code;
  return code;
}

const char* StatusText(int32_t code);

}  // namespace zor
