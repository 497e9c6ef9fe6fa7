#include "display.h"

#include <algorithm>
#include <stdexcept>

namespace zorsim {
namespace {

// The font as pictures: seven rows of five pixels, top row first, '#' lit. Entry i is the
// character 0x20 + i.
constexpr std::string_view kFontArt[] = {
    "..... ..... ..... ..... ..... ..... .....",  // ' '
    "..#.. ..#.. ..#.. ..#.. ..#.. ..... ..#..",  // !
    ".#.#. .#.#. .#.#. ..... ..... ..... .....",  // "
    ".#.#. .#.#. ##### .#.#. ##### .#.#. .#.#.",  // #
    "..#.. .#### #.#.. .###. ..#.# ####. ..#..",  // $
    "##... ##..# ...#. ..#.. .#... #..## ...##",  // %
    ".##.. #..#. #.#.. .#... #.#.# #..#. .##.#",  // &
    "..#.. ..#.. .#... ..... ..... ..... .....",  // '
    "...#. ..#.. .#... .#... .#... ..#.. ...#.",  // (
    ".#... ..#.. ...#. ...#. ...#. ..#.. .#...",  // )
    "..... ..#.. #.#.# .###. #.#.# ..#.. .....",  // *
    "..... ..#.. ..#.. ##### ..#.. ..#.. .....",  // +
    "..... ..... ..... ..... .##.. ..#.. .#...",  // ,
    "..... ..... ..... ##### ..... ..... .....",  // -
    "..... ..... ..... ..... ..... .##.. .##..",  // .
    "..... ....# ...#. ..#.. .#... #.... .....",  // /
    ".###. #...# #..## #.#.# ##..# #...# .###.",  // 0
    "..#.. .##.. ..#.. ..#.. ..#.. ..#.. .###.",  // 1
    ".###. #...# ....# ...#. ..#.. .#... #####",  // 2
    "##### ...#. ..#.. ...#. ....# #...# .###.",  // 3
    "...#. ..##. .#.#. #..#. ##### ...#. ...#.",  // 4
    "##### #.... ####. ....# ....# #...# .###.",  // 5
    "..##. .#... #.... ####. #...# #...# .###.",  // 6
    "##### ....# ...#. ..#.. .#... .#... .#...",  // 7
    ".###. #...# #...# .###. #...# #...# .###.",  // 8
    ".###. #...# #...# .#### ....# ...#. .##..",  // 9
    "..... .##.. .##.. ..... .##.. .##.. .....",  // :
    "..... .##.. .##.. ..... .##.. ..#.. .#...",  // ;
    "...#. ..#.. .#... #.... .#... ..#.. ...#.",  // <
    "..... ..... ##### ..... ##### ..... .....",  // =
    ".#... ..#.. ...#. ....# ...#. ..#.. .#...",  // >
    ".###. #...# ....# ...#. ..#.. ..... ..#..",  // ?
    ".###. #...# ....# .##.# #.#.# #.#.# .###.",  // @
    ".###. #...# #...# ##### #...# #...# #...#",  // A
    "####. #...# #...# ####. #...# #...# ####.",  // B
    ".###. #...# #.... #.... #.... #...# .###.",  // C
    "###.. #..#. #...# #...# #...# #..#. ###..",  // D
    "##### #.... #.... ####. #.... #.... #####",  // E
    "##### #.... #.... ####. #.... #.... #....",  // F
    ".###. #...# #.... #.### #...# #...# .####",  // G
    "#...# #...# #...# ##### #...# #...# #...#",  // H
    ".###. ..#.. ..#.. ..#.. ..#.. ..#.. .###.",  // I
    "..### ...#. ...#. ...#. ...#. #..#. .##..",  // J
    "#...# #..#. #.#.. ##... #.#.. #..#. #...#",  // K
    "#.... #.... #.... #.... #.... #.... #####",  // L
    "#...# ##.## #.#.# #.#.# #...# #...# #...#",  // M
    "#...# #...# ##..# #.#.# #..## #...# #...#",  // N
    ".###. #...# #...# #...# #...# #...# .###.",  // O
    "####. #...# #...# ####. #.... #.... #....",  // P
    ".###. #...# #...# #...# #.#.# #..#. .##.#",  // Q
    "####. #...# #...# ####. #.#.. #..#. #...#",  // R
    ".#### #.... #.... .###. ....# ....# ####.",  // S
    "##### ..#.. ..#.. ..#.. ..#.. ..#.. ..#..",  // T
    "#...# #...# #...# #...# #...# #...# .###.",  // U
    "#...# #...# #...# #...# #...# .#.#. ..#..",  // V
    "#...# #...# #...# #.#.# #.#.# #.#.# .#.#.",  // W
    "#...# #...# .#.#. ..#.. .#.#. #...# #...#",  // X
    "#...# #...# #...# .#.#. ..#.. ..#.. ..#..",  // Y
    "##### ....# ...#. ..#.. .#... #.... #####",  // Z
    ".###. .#... .#... .#... .#... .#... .###.",  // [
    "..... #.... .#... ..#.. ...#. ....# .....",  // backslash
    ".###. ...#. ...#. ...#. ...#. ...#. .###.",  // ]
    "..#.. .#.#. #...# ..... ..... ..... .....",  // ^
    "..... ..... ..... ..... ..... ..... #####",  // _
    ".#... ..#.. ...#. ..... ..... ..... .....",  // `
    "..... ..... .###. ....# .#### #...# .####",  // a
    "#.... #.... #.##. ##..# #...# #...# ####.",  // b
    "..... ..... .###. #.... #.... #...# .###.",  // c
    "....# ....# .##.# #..## #...# #...# .####",  // d
    "..... ..... .###. #...# ##### #.... .###.",  // e
    "..##. .#..# .#... ###.. .#... .#... .#...",  // f
    "..... .#### #...# #...# .#### ....# .###.",  // g
    "#.... #.... #.##. ##..# #...# #...# #...#",  // h
    "..#.. ..... .##.. ..#.. ..#.. ..#.. .###.",  // i
    "...#. ..... ..##. ...#. ...#. #..#. .##..",  // j
    "#.... #.... #..#. #.#.. ##... #.#.. #..#.",  // k
    ".##.. ..#.. ..#.. ..#.. ..#.. ..#.. .###.",  // l
    "..... ..... ##.#. #.#.# #.#.# #...# #...#",  // m
    "..... ..... #.##. ##..# #...# #...# #...#",  // n
    "..... ..... .###. #...# #...# #...# .###.",  // o
    "..... ..... ####. #...# ####. #.... #....",  // p
    "..... ..... .##.# #..## .#### ....# ....#",  // q
    "..... ..... #.##. ##..# #.... #.... #....",  // r
    "..... ..... .###. #.... .###. ....# ####.",  // s
    ".#... .#... ###.. .#... .#... .#..# ..##.",  // t
    "..... ..... #...# #...# #...# #..## .##.#",  // u
    "..... ..... #...# #...# #...# .#.#. ..#..",  // v
    "..... ..... #...# #...# #.#.# #.#.# .#.#.",  // w
    "..... ..... #...# .#.#. ..#.. .#.#. #...#",  // x
    "..... ..... #...# #...# .#### ....# .###.",  // y
    "..... ..... ##### ...#. ..#.. .#... #####",  // z
    "...#. ..#.. ..#.. .#... ..#.. ..#.. ...#.",  // {
    "..#.. ..#.. ..#.. ..#.. ..#.. ..#.. ..#..",  // |
    ".#... ..#.. ..#.. ...#. ..#.. ..#.. .#...",  // }
    "..... ..... .#... #.#.# ...#. ..... .....",  // ~
};
constexpr char kFirstChar = ' ';
constexpr std::size_t kGlyphCount = std::size(kFontArt);
static_assert(kGlyphCount == 0x7F - 0x20);

// Turns a picture into column bytes; a malformed picture stops the compilation.
constexpr Glyph ColumnsOf(std::string_view art) {
  if (art.size() != 7 * (kGlyphWidth + 1) - 1) throw std::logic_error("glyph picture size");
  Glyph glyph{};
  for (int row = 0; row < 7; ++row) {
    for (int col = 0; col < kGlyphWidth; ++col) {
      const char pixel = art[static_cast<std::size_t>(row * (kGlyphWidth + 1) + col)];
      if (pixel != '#' && pixel != '.') throw std::logic_error("glyph picture character");
      if (pixel == '#') glyph[static_cast<std::size_t>(col)] |= static_cast<uint8_t>(1U << row);
    }
  }
  return glyph;
}

constexpr auto MakeFont() {
  std::array<Glyph, kGlyphCount> font{};
  for (std::size_t i = 0; i < kGlyphCount; ++i) font[i] = ColumnsOf(kFontArt[i]);
  return font;
}
constexpr auto kFont = MakeFont();

bool Printable(char c) { return c >= kFirstChar && c < kFirstChar + static_cast<int>(kGlyphCount); }

std::size_t Index(int page, int x) { return static_cast<std::size_t>(page * kScreenWidth + x); }

bool ValidPage(int page) { return page >= 0 && page < kScreenPages; }

// The cell's six column bytes, inverted if the cell is highlighted (its blank column lit).
std::array<uint8_t, kCellWidth> CellColumns(const DisplayMemory& memory, int page, int cell) {
  std::array<uint8_t, kCellWidth> columns{};
  for (int i = 0; i < kCellWidth; ++i) columns[static_cast<std::size_t>(i)] = memory[Index(page, cell * kCellWidth + i)];
  if ((columns[kGlyphWidth] & 0x80U) != 0) {
    for (auto& column : columns) column = static_cast<uint8_t>(~column);
  }
  return columns;
}

char MatchCell(const std::array<uint8_t, kCellWidth>& columns) {
  if (columns[kGlyphWidth] != 0) return '?';
  for (std::size_t i = 0; i < kGlyphCount; ++i) {
    if (std::equal(kFont[i].begin(), kFont[i].end(), columns.begin())) return static_cast<char>(kFirstChar + static_cast<int>(i));
  }
  return '?';
}

}  // namespace

Glyph GlyphOf(char c) {
  if (!Printable(c)) c = '?';
  return kFont[static_cast<std::size_t>(c - kFirstChar)];
}

void Screen::Clear() { memory_.fill(0); }

void Screen::DrawText(int page, int column, std::string_view text) {
  if (!ValidPage(page) || column < 0) return;
  for (std::size_t i = 0; i < text.size() && column + static_cast<int>(i) < kTextColumns; ++i) {
    const Glyph glyph = GlyphOf(text[i]);
    const int x = (column + static_cast<int>(i)) * kCellWidth;
    for (int col = 0; col < kGlyphWidth; ++col) memory_[Index(page, x + col)] = glyph[static_cast<std::size_t>(col)];
    memory_[Index(page, x + kGlyphWidth)] = 0;
  }
}

void Screen::InvertCells(int page, int first, int count) {
  if (!ValidPage(page)) return;
  const int from = std::max(first, 0) * kCellWidth;
  const int to = std::min(first + count, kTextColumns) * kCellWidth;
  for (int x = from; x < to; ++x) memory_[Index(page, x)] = static_cast<uint8_t>(~memory_[Index(page, x)]);
}

void Screen::InvertPage(int page) {
  if (!ValidPage(page)) return;
  for (int x = 0; x < kScreenWidth; ++x) memory_[Index(page, x)] = static_cast<uint8_t>(~memory_[Index(page, x)]);
}

bool Screen::Pixel(int x, int y) const {
  if (x < 0 || x >= kScreenWidth || y < 0 || y >= kScreenHeight) return false;
  return ((memory_[Index(y / 8, x)] >> (y % 8)) & 1U) != 0;
}

std::string Screen::AsciiArt() const {
  std::string art;
  art.reserve(static_cast<std::size_t>((kScreenWidth + 1) * kScreenHeight));
  for (int y = 0; y < kScreenHeight; ++y) {
    for (int x = 0; x < kScreenWidth; ++x) art += Pixel(x, y) ? '#' : '.';
    art += '\n';
  }
  return art;
}

std::string Screen::TextOfPage(int page) const {
  if (!ValidPage(page)) return {};
  std::string text;
  for (int cell = 0; cell < kTextColumns; ++cell) text += MatchCell(CellColumns(memory_, page, cell));
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

}  // namespace zorsim
