// The front-panel display of the simulated device: a 128 x 64 monochrome screen and its 5 x 7 font.
//
// The display memory is 1024 bytes in 8 pages (text rows) of 128 column bytes. Byte
// page * 128 + x holds the vertical strip of 8 pixels at column x, rows page * 8 to page * 8 + 7,
// with bit 0 the top pixel. Text is drawn in cells of 6 x 8 pixels (5 x 7 glyph, one blank column
// to the right and one blank row below), so a page holds 21 characters.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zorsim {

inline constexpr int kScreenWidth = 128;
inline constexpr int kScreenHeight = 64;
inline constexpr int kScreenPages = kScreenHeight / 8;
inline constexpr int kGlyphWidth = 5;
inline constexpr int kCellWidth = kGlyphWidth + 1;
inline constexpr int kTextColumns = kScreenWidth / kCellWidth;  // 21

using DisplayMemory = std::array<uint8_t, kScreenWidth * kScreenPages>;
// The five column bytes of a glyph, bit 0 on top. Characters outside 0x20..0x7E draw as '?'.
using Glyph = std::array<uint8_t, kGlyphWidth>;
Glyph GlyphOf(char c);

class Screen {
 public:
  void Clear();
  // Draws text from text column `column` of `page` on; what does not fit is cut off.
  void DrawText(int page, int column, std::string_view text);
  // Inverts text columns [first, first + count) of a page, the whole cells (for highlighting).
  void InvertCells(int page, int first, int count);
  // Inverts a whole page, all 128 columns (title bar).
  void InvertPage(int page);

  bool Pixel(int x, int y) const;
  const DisplayMemory& Memory() const { return memory_; }

  // The screen as 64 lines of 128 characters, '#' for a lit pixel and '.' for a dark one.
  std::string AsciiArt() const;
  // Reads a page back as text: each 6 x 8 cell matched against the font, inverted cells too;
  // a cell that matches no glyph reads as '?'. Trailing blanks are removed.
  std::string TextOfPage(int page) const;

 private:
  DisplayMemory memory_{};
};

}  // namespace zorsim
