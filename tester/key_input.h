// Keys from a byte stream, the same on every platform: what the console's backend reads is kept
// undecoded, taken apart into key codes, and handed out as keys or as lines.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <optional>
#include <string>

namespace zortester {

// A line typed at a prompt is kept up to this length; the rest is dropped.
constexpr std::size_t kLongestLine = 4096;

// Milliseconds left until `deadline`, 0 when it has passed.
int RemainingMs(std::chrono::steady_clock::time_point deadline);

// Moves the bytes up to the first line end from `from` to `line`, which keeps kLongestLine of
// them; true when the line end was there.
bool TakeLine(std::string& from, std::string& line);

std::string StripReturn(std::string line);

class KeyInput {
 public:
  virtual ~KeyInput() = default;

  // As the console's: whether a key is waiting (always at the end of the input), the next key
  // (Esc at the end of the input), whether the input has ended with no key left.
  bool KeyWaiting();
  int ReadKey();
  bool InputEnded();
  // A line of the input as bytes, without its line end (LF or CR LF); nothing at the end of the
  // input. Keys already taken apart go first (a NUL pair gives back its second byte).
  std::optional<std::string> ReadPlainLine();

 protected:
  // Reads what the input has into raw_, waiting up to `wait_ms` (-1: no limit) for the first
  // byte; sets end_ at the end of the input.
  virtual void Fill(int wait_ms) = 0;
  // Takes the keys at the start of raw_ into keys_; `complete`: no more bytes of them will come.
  // As a PC reads a pipe or a file: a NUL and the next byte are one extended key.
  virtual void Decode(bool complete);
  // Decodes what has arrived; at the start of a key sequence waits briefly for the rest of it.
  void Settle();

  bool end_ = false;
  std::string raw_;       // bytes not yet decoded
  std::deque<int> keys_;  // keys decoded, in the order they came
};

}  // namespace zortester
