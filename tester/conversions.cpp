#include "conversions.h"

#include <cstdio>
#include <cstring>

namespace zortester {

bool ToInt(const char* text, int32_t& value) {
  int number = 0;
  if (std::sscanf(text, "%d", &number) != 1) return false;
  value = number;
  return true;
}

bool ToUnsigned(const char* text, uint32_t& value) {
  unsigned number = 0;
  if (std::sscanf(text, "%u", &number) != 1) return false;
  value = number;
  return true;
}

bool ToUShort(const char* text, uint16_t& value) {
  unsigned short number = 0;
  if (std::sscanf(text, "%hu", &number) != 1) return false;
  value = number;
  return true;
}

bool ToDouble(const char* text, double& value) { return std::sscanf(text, "%lf", &value) == 1; }

bool ToFileName(const char* text, std::string& word) {
  static constexpr const char* kBlanks = " \t\n\v\f\r";
  const char* start = text + std::strspn(text, kBlanks);
  const std::size_t length = std::strcspn(start, kBlanks);
  if (length == 0 || length > kLongestFileName) return false;
  word.assign(start, length);
  return true;
}

}  // namespace zortester
