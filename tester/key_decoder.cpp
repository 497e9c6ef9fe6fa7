#include "key_decoder.h"

#include <vector>

#include "console.h"

namespace zortester {
namespace {

// A sequence that has not ended after this many bytes is taken as garbage.
constexpr std::size_t kLongestSequence = 32;

// The PC keyboard knows one modifier at a time; Ctrl wins over Alt, Alt over Shift.
enum Modifier { kPlain = 0, kShift = 1, kAlt = 2, kCtrl = 3 };

// xterm's modifier parameter: 1 plus 1 for Shift, 2 for Alt, 4 for Ctrl (8, Meta, is ignored).
Modifier ModifierOf(int parameter) {
  const int bits = parameter - 1;
  if (bits <= 0) return kPlain;
  if ((bits & 4) != 0) return kCtrl;
  if ((bits & 2) != 0) return kAlt;
  if ((bits & 1) != 0) return kShift;
  return kPlain;
}

// Extended codes of a cursor or page key; Shift leaves them alone.
struct NavigationCodes {
  int plain, ctrl, alt;
};
constexpr NavigationCodes kUp{0x48, 0x8D, 0x98}, kDown{0x50, 0x91, 0xA0}, kRight{0x4D, 0x74, 0x9D},
    kLeft{0x4B, 0x73, 0x9B}, kHome{0x47, 0x77, 0x97}, kEnd{0x4F, 0x75, 0x9F},
    kInsert{0x52, 0x92, 0xA2}, kDelete{0x53, 0x93, 0xA3}, kPageUp{0x49, 0x84, 0x99},
    kPageDown{0x51, 0x76, 0xA1};

int Navigation(const NavigationCodes& codes, Modifier modifier) {
  switch (modifier) {
    case kCtrl: return kExtendedKey + codes.ctrl;
    case kAlt: return kExtendedKey + codes.alt;
    default: return kExtendedKey + codes.plain;
  }
}

// F1 to F12; the function keys have their own codes with Shift.
int FunctionKey(int number, Modifier modifier) {
  static constexpr int kFirstTen[] = {0x3B, 0x54, 0x68, 0x5E};  // F1 plain, Shift, Alt, Ctrl
  static constexpr int kLastTwo[] = {0x85, 0x87, 0x8B, 0x89};   // F11
  if (number <= 10) return kExtendedKey + kFirstTen[modifier] + number - 1;
  return kExtendedKey + kLastTwo[modifier] + number - 11;
}

// The key of ESC [ ... final or ESC O ... final, by its final byte.
int ByFinal(char final, Modifier modifier) {
  switch (final) {
    case 'A': return Navigation(kUp, modifier);
    case 'B': return Navigation(kDown, modifier);
    case 'C': return Navigation(kRight, modifier);
    case 'D': return Navigation(kLeft, modifier);
    case 'H': return Navigation(kHome, modifier);
    case 'F': return Navigation(kEnd, modifier);
    case 'P': case 'Q': case 'R': case 'S': return FunctionKey(final - 'P' + 1, modifier);
    case 'Z': return kExtendedKey + 0x0F;  // Shift+Tab
    default: return kUnknownKey;
  }
}

// The key of ESC [ number ; modifier ~.
int ByNumber(int number, Modifier modifier) {
  switch (number) {
    case 1: case 7: return Navigation(kHome, modifier);
    case 2: return Navigation(kInsert, modifier);
    case 3: return Navigation(kDelete, modifier);
    case 4: case 8: return Navigation(kEnd, modifier);
    case 5: return Navigation(kPageUp, modifier);
    case 6: return Navigation(kPageDown, modifier);
    case 11: case 12: case 13: case 14: case 15: return FunctionKey(number - 10, modifier);
    case 17: case 18: case 19: case 20: case 21: return FunctionKey(number - 11, modifier);
    case 23: case 24: return FunctionKey(number - 12, modifier);
    default: return kUnknownKey;
  }
}

// A key held with Alt arrives as ESC and the key's character.
int AltKey(char c) {
  static constexpr std::string_view kRows[] = {"QWERTYUIOP", "ASDFGHJKL", "ZXCVBNM"};
  static constexpr int kRowStart[] = {0x10, 0x1E, 0x2C};
  const char upper = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  for (int row = 0; row < 3; ++row) {
    const std::size_t at = kRows[row].find(upper);
    if (at != std::string_view::npos) return kExtendedKey + kRowStart[row] + static_cast<int>(at);
  }
  if (c >= '1' && c <= '9') return kExtendedKey + 0x78 + (c - '1');
  switch (c) {
    case '0': return kExtendedKey + 0x81;
    case '-': return kExtendedKey + 0x82;
    case '=': return kExtendedKey + 0x83;
    case '\r': return kExtendedKey + 0x1C;
    case '\t': return kExtendedKey + 0xA5;
    case 0x08: case 0x7F: return kExtendedKey + 0x0E;
    default: return kUnknownKey;
  }
}

bool IsParameterByte(char c) { return c >= 0x30 && c <= 0x3F; }
bool IsIntermediateByte(char c) { return c >= 0x20 && c <= 0x2F; }
bool IsFinalByte(char c) { return c >= 0x40 && c <= 0x7E; }

// Decimal numbers separated by ';' (an empty one is 0); nothing for other parameter bytes.
std::optional<std::vector<int>> Parameters(std::string_view text) {
  std::vector<int> numbers(1, 0);
  for (char c : text) {
    if (c == ';') {
      numbers.push_back(0);
    } else if (c >= '0' && c <= '9') {
      if (numbers.back() < 10000) numbers.back() = numbers.back() * 10 + (c - '0');
    } else {
      return std::nullopt;
    }
  }
  if (text.empty()) numbers.clear();
  return numbers;
}

DecodedKey Unknown(std::size_t length) { return DecodedKey{kUnknownKey, length, std::nullopt}; }

// ESC [ [ A..E: F1 to F5 of the Linux console.
std::optional<DecodedKey> LinuxFunctionKey(std::string_view bytes, bool complete) {
  if (bytes.size() < 4) return complete ? std::optional(Unknown(bytes.size())) : std::nullopt;
  const char c = bytes[3];
  if (c >= 'A' && c <= 'E') return DecodedKey{FunctionKey(c - 'A' + 1, kPlain), 4, std::nullopt};
  return Unknown(IsFinalByte(c) ? 4 : 3);
}

// ESC [ or ESC O, then parameter bytes, intermediate bytes and a final byte.
std::optional<DecodedKey> ControlSequence(std::string_view bytes, bool complete) {
  const bool ss3 = bytes[1] == 'O';
  if (!ss3 && bytes.size() > 2 && bytes[2] == '[') return LinuxFunctionKey(bytes, complete);
  std::size_t i = 2;
  while (i < bytes.size() && IsParameterByte(bytes[i])) ++i;
  const std::size_t parameters_end = i;
  while (i < bytes.size() && IsIntermediateByte(bytes[i])) ++i;
  if (i == bytes.size()) {
    if (!complete && bytes.size() < kLongestSequence) return std::nullopt;
    // ESC O alone is O held with Alt.
    if (ss3 && bytes.size() == 2) return DecodedKey{AltKey('O'), 2, std::nullopt};
    return Unknown(bytes.size());
  }
  // A byte that cannot belong to the sequence breaks it off; that byte is the next key.
  if (!IsFinalByte(bytes[i])) return Unknown(i);
  const std::size_t length = i + 1;
  const auto numbers = Parameters(bytes.substr(2, parameters_end - 2));
  if (parameters_end != i || !numbers) return Unknown(length);
  const char final = bytes[i];
  if (final == '~') {
    if (ss3 || numbers->empty()) return Unknown(length);
    const int modifier = numbers->size() > 1 ? (*numbers)[1] : 1;
    return DecodedKey{ByNumber((*numbers)[0], ModifierOf(modifier)), length, std::nullopt};
  }
  if (ss3 && final == 'M') return DecodedKey{kEnterKey, length, std::nullopt};  // keypad Enter
  const int modifier = numbers->empty() ? 1 : numbers->back();
  DecodedKey key{ByFinal(final, ModifierOf(modifier)), length, std::nullopt};
  if (!ss3 && final == 'R' && numbers->size() == 2) {
    key.report_row = (*numbers)[0];
    if ((*numbers)[0] != 1) key.key = kUnknownKey;
  }
  return key;
}

}  // namespace

std::optional<DecodedKey> DecodeKey(std::string_view bytes, bool complete) {
  if (bytes.empty()) return std::nullopt;
  const auto first = static_cast<unsigned char>(bytes[0]);
  if (first == 0) return DecodedKey{kExtendedKey + 3, 1, std::nullopt};  // Ctrl+Space
  if (first == 0x7F) return DecodedKey{0x08, 1, std::nullopt};           // Backspace
  if (first != kEscKey) return DecodedKey{first, 1, std::nullopt};
  if (bytes.size() == 1) {
    if (!complete) return std::nullopt;
    return DecodedKey{kEscKey, 1, std::nullopt};
  }
  if (bytes[1] == '[' || bytes[1] == 'O') return ControlSequence(bytes, complete);
  if (bytes[1] == '\x1b') return DecodedKey{kEscKey, 1, std::nullopt};
  return DecodedKey{AltKey(bytes[1]), 2, std::nullopt};
}

std::optional<DecodedKey> DecodePlainKey(std::string_view bytes, bool complete) {
  if (bytes.empty()) return std::nullopt;
  const auto first = static_cast<unsigned char>(bytes[0]);
  if (first != 0) return DecodedKey{first, 1, std::nullopt};
  if (bytes.size() >= 2) return DecodedKey{kExtendedKey + static_cast<unsigned char>(bytes[1]), 2, std::nullopt};
  if (!complete) return std::nullopt;
  return DecodedKey{kExtendedKey + 3, 1, std::nullopt};  // as Ctrl+Space on a terminal
}

}  // namespace zortester
