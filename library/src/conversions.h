// The units and sign widths of the device's fixed-width hex fields.
#pragma once

#include <cstdint>

#include "framing.h"

namespace zor {

inline double Milli(uint32_t raw) { return raw * 0.001; }

// Temperatures travel in hundredths of a kelvin.
inline double Celsius(uint32_t raw) { return (static_cast<int32_t>(raw & 0xFFFF) - 27315) * 0.01; }

inline int32_t Signed16(uint32_t raw) { return static_cast<int16_t>(static_cast<uint16_t>(raw)); }
inline int32_t Signed24(uint32_t raw) {
  return (raw & 0x800000u) != 0 ? static_cast<int32_t>(raw | 0xFF000000u)
                                : static_cast<int32_t>(raw & 0xFFFFFFu);
}
inline int32_t Signed32(uint32_t raw) { return static_cast<int32_t>(raw); }

// Converts the field at offset into *out through conv, writing it only when it converts.
template <class T, class Conv>
bool TakeField(const char* reply, uint32_t offset, uint32_t width, T* out, Conv conv) {
  uint32_t raw = 0;
  if (!HexField(reply, offset, width, raw)) return false;
  *out = static_cast<T>(conv(raw));
  return true;
}

// A "Y" or "N" character as 1 or 0.
inline bool TakeFlag(char c, int32_t* out) {
  if (c != 'Y' && c != 'N') return false;
  *out = c == 'Y' ? 1 : 0;
  return true;
}

}  // namespace zor
