#include "key_input.h"

#include <algorithm>

#include "console.h"
#include "key_decoder.h"

namespace zortester {
namespace {

using std::chrono::milliseconds;

// How long the rest of a key sequence may take after its first byte (ESC, or the NUL of a pair):
// longer than a terminal needs to send one sequence, short enough that a lone Esc feels immediate.
constexpr milliseconds kSequenceWait{30};

}  // namespace

int RemainingMs(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

bool TakeLine(std::string& from, std::string& line) {
  const std::size_t end = from.find('\n');
  const std::size_t count = end == std::string::npos ? from.size() : end;
  line.append(from, 0, std::min(count, kLongestLine - std::min(line.size(), kLongestLine)));
  from.erase(0, end == std::string::npos ? count : count + 1);
  return end != std::string::npos;
}

std::string StripReturn(std::string line) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

bool KeyInput::KeyWaiting() {
  Settle();
  return !keys_.empty() || end_;
}

int KeyInput::ReadKey() {
  while (!KeyWaiting()) Fill(100);
  if (keys_.empty()) return kEscKey;  // the end of the input
  const int key = keys_.front();
  keys_.pop_front();
  return key;
}

bool KeyInput::InputEnded() {
  Settle();
  return keys_.empty() && end_;
}

std::optional<std::string> KeyInput::ReadPlainLine() {
  std::string line;
  while (!keys_.empty()) {
    const int key = keys_.front();
    keys_.pop_front();
    if (key == '\n') return StripReturn(std::move(line));
    if (line.size() < kLongestLine) line += static_cast<char>(key & 0xFF);
  }
  bool complete = TakeLine(raw_, line);
  while (!complete && !end_) {
    Fill(-1);
    complete = TakeLine(raw_, line);
  }
  if (!complete && line.empty()) return std::nullopt;
  return StripReturn(std::move(line));
}

void KeyInput::Decode(bool complete) {
  while (const auto decoded = DecodePlainKey(raw_, complete)) {
    raw_.erase(0, decoded->length);
    keys_.push_back(decoded->key);
  }
}

void KeyInput::Settle() {
  Fill(0);
  Decode(end_);
  const auto deadline = std::chrono::steady_clock::now() + kSequenceWait;
  while (keys_.empty() && !raw_.empty() && !end_ && RemainingMs(deadline) > 0) {
    Fill(RemainingMs(deadline));
    Decode(false);
  }
  if (keys_.empty()) Decode(true);
}

}  // namespace zortester
