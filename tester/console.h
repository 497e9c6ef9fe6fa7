// The console of the tester: keys, cursor and line input, one implementation per platform.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "clock.h"

namespace zortester {

// Key codes: a character code, or 0x100 plus the PC keyboard's extended code for a key that yields
// no character (arrows, page and function keys, keys held with Alt).
constexpr int kExtendedKey = 0x100;
constexpr int kEscKey = 0x1B;
constexpr int kEnterKey = 0x0D;
// A key or key sequence that the PC keyboard has no code for: extended code 0, which no key yields.
constexpr int kUnknownKey = kExtendedKey;

class Console {
 public:
  virtual ~Console() = default;

  // Whether a key press is waiting. Returns at once, but for the few milliseconds that tell a lone
  // Esc from the start of a key sequence. At the end of the input a key (Esc) is always waiting.
  virtual bool KeyWaiting() = 0;
  // Waits until a key press may be waiting or max_ms have passed, returning at once when input
  // comes. A console that cannot wait for its input sleeps 1 ms instead, and its caller polls.
  virtual void AwaitKey(int max_ms) {
    (void)max_ms;
    SleepMilliseconds(1);
  }
  // The next key code without echo and without waiting for Enter; waits for a key when none is.
  // At the end of the input: Esc.
  virtual int ReadKey() = 0;
  // Whether the input has ended with no key left: no key will ever come, so a wait for one would
  // not end (KeyWaiting stays true and ReadKey gives Esc). Never the case on an interactive console.
  virtual bool InputEnded() { return false; }

  // Cursor services, rows and columns counted from 1. Without a terminal on both sides they do
  // nothing and the row reads 1: plain output gets no cursor control and no live lines.
  virtual int CursorRow() = 0;
  virtual void PlaceCursor(int column, int row) = 0;
  virtual void ClearToEndOfLine() = 0;
  // Writes text at the cursor, straight to the console window (a live line, not part of the
  // ordinary output).
  virtual void WriteDirect(std::string_view text) = 0;

  // One line typed with echo, without its line end; nothing at the end of the input. Answers to
  // the prompts; what was printed before is flushed first.
  virtual std::optional<std::string> ReadLine() = 0;
};

// The console of this process: standard input and output. Sets the terminal up for single keys
// while it lives and restores it on every way out.
std::unique_ptr<Console> OpenConsole();

}  // namespace zortester
