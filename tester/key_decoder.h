// Terminal input bytes (xterm style, as tmux and most terminals send them) to PC key codes.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace zortester {

struct DecodedKey {
  int key = 0;             // the key code (see console.h)
  std::size_t length = 0;  // bytes taken from the input
  // Set for ESC [ row ; column R, the terminal's cursor position report. The same bytes are also
  // Ctrl/Alt/Shift+F3 when row is 1, which `key` then holds.
  std::optional<int> report_row;
};

// Decodes the key at the start of `bytes`. Nothing when `bytes` is empty, or when it is the
// beginning of a longer sequence and `complete` is false (more bytes may follow at once). With
// `complete` set the bytes are taken as they are: ESC alone is Esc, an unfinished sequence is
// consumed whole as an unknown key. Unknown sequences never yield their characters as keys.
std::optional<DecodedKey> DecodeKey(std::string_view bytes, bool complete);

// The same for the bytes of a pipe or a file, as a PC reads them: a NUL and the next byte are one
// extended key, a NUL at the end (`complete`) is Ctrl+Space's.
std::optional<DecodedKey> DecodePlainKey(std::string_view bytes, bool complete);

}  // namespace zortester
