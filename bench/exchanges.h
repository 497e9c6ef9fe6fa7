// The command classes the benchmarks time: one device function each, on slot 7, with the
// characters its exchange puts on the wire.
#pragma once

#include <cstdint>
#include <string>

namespace zorbench {

inline constexpr uint16_t kPort = 7;

struct ExchangeClass {
  const char* key;       // short name, as the tables and the JSON give it
  const char* title;     // what the exchange is
  unsigned out_chars;    // command line
  unsigned back_chars;   // echo, reply data and terminator
  int32_t (*run)();      // one exchange through the C interface; its status code
};

// Fixed reply without and with command data, a reply of any length, the whole display, a row.
inline constexpr int kClassCount = 5;
extern const ExchangeClass kClasses[kClassCount];

// 11 bits a character (8E1) at 230400 baud.
inline constexpr double kCharacterMicroseconds = 11.0 * 1e6 / 230400.0;
inline double WireMicroseconds(const ExchangeClass& c) {
  return (c.out_chars + c.back_chars) * kCharacterMicroseconds;
}

const ExchangeClass* FindClass(const std::string& key);

}  // namespace zorbench
