// The console on POSIX systems: a terminal in raw mode, or plain standard input and output.
//
// On a terminal the keys arrive as bytes and escape sequences, decoded into PC key codes; the
// terminal is set to raw mode (no echo, no line editing, Ctrl+C still a signal) while the console
// lives and restored on every way out. Input that is not a terminal (a pipe or a file) is taken
// byte by byte as the key reads of a PC see them: a NUL byte and the following byte are one
// extended key, and the end of the input reads as Esc.
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>

#include "console.h"
#include "key_decoder.h"

namespace zortester {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How long the rest of a key sequence may take after its ESC: longer than a terminal needs to
// send one sequence, short enough that a lone Esc feels immediate.
constexpr milliseconds kSequenceWait{30};
// How long the terminal may take to report the cursor position.
constexpr milliseconds kReportWait{500};
// A line typed at a prompt is kept up to this length; the rest is dropped.
constexpr std::size_t kLongestLine = 4096;

// The terminal's settings at the start, for the signal handlers and the exit handler.
termios g_original{};
volatile std::sig_atomic_t g_changed = 0;  // the settings are not those of the start

void RestoreTerminal() {
  if (g_changed != 0) {
    ::tcsetattr(STDIN_FILENO, TCSANOW, &g_original);
    g_changed = 0;
  }
}

// Restores the terminal and lets the signal do what it would have done.
extern "C" void OnTerminatingSignal(int signal_number) {
  const int saved_errno = errno;
  if (g_changed != 0) ::tcsetattr(STDIN_FILENO, TCSANOW, &g_original);
  errno = saved_errno;
  ::raise(signal_number);  // the handler was reset on entry: the default action follows at return
}

void InstallSignalHandlers() {
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) {
    struct sigaction previous {};
    ::sigaction(signal_number, nullptr, &previous);
    if (previous.sa_handler == SIG_IGN) continue;  // as under nohup: stays ignored
    struct sigaction action {};
    action.sa_handler = OnTerminatingSignal;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal_number, &action, nullptr);
  }
}

int Remaining(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// Bytes of a pipe or file: a NUL and the next byte are one extended key.
std::optional<DecodedKey> DecodePlainKey(std::string_view bytes, bool complete) {
  if (bytes.empty()) return std::nullopt;
  const auto first = static_cast<unsigned char>(bytes[0]);
  if (first != 0) return DecodedKey{first, 1, std::nullopt};
  if (bytes.size() >= 2) return DecodedKey{kExtendedKey + static_cast<unsigned char>(bytes[1]), 2, std::nullopt};
  if (!complete) return std::nullopt;
  return DecodedKey{kExtendedKey + 3, 1, std::nullopt};  // as Ctrl+Space on a terminal
}

class PosixConsole final : public Console {
 public:
  PosixConsole() {
    terminal_ = ::isatty(STDIN_FILENO) == 1 && ::tcgetattr(STDIN_FILENO, &g_original) == 0;
    live_ = terminal_ && ::isatty(STDOUT_FILENO) == 1;
    if (terminal_) EnterRawMode();
  }
  ~PosixConsole() override {
    std::fflush(stdout);
    RestoreTerminal();
  }
  PosixConsole(const PosixConsole&) = delete;
  PosixConsole& operator=(const PosixConsole&) = delete;

  bool KeyWaiting() override {
    Settle();
    return !keys_.empty() || end_;
  }

  void AwaitKey(int max_ms) override {
    if (!keys_.empty() || !raw_.empty() || end_) return;
    pollfd input{STDIN_FILENO, POLLIN, 0};
    (void)::poll(&input, 1, max_ms);  // input, time-out or a signal: the caller looks again
  }

  int ReadKey() override {
    while (!KeyWaiting()) Fill(100);
    if (keys_.empty()) return kEscKey;  // the end of the input
    const int key = keys_.front();
    keys_.pop_front();
    return key;
  }

  bool InputEnded() override {
    Settle();
    return keys_.empty() && end_;
  }

  int CursorRow() override {
    if (!live_) return 1;
    const unsigned reports = reports_received_;
    Emit("\x1b[6n");
    ++reports_expected_;
    const auto deadline = Clock::now() + kReportWait;
    while (reports_received_ == reports && !end_ && Remaining(deadline) > 0) {
      Fill(Remaining(deadline));
      Decode(false);
    }
    return last_row_;  // without an answer: the row known last
  }

  void PlaceCursor(int column, int row) override {
    if (!live_) return;
    char text[32];
    std::snprintf(text, sizeof text, "\x1b[%d;%dH", row, column);
    Emit(text);
  }

  void ClearToEndOfLine() override {
    if (live_) Emit("\x1b[K");
  }

  void WriteDirect(std::string_view text) override {
    if (live_) Emit(text);
  }

  std::optional<std::string> ReadLine() override {
    std::fflush(stdout);
    return terminal_ ? ReadTerminalLine() : ReadPlainLine();
  }

 private:
  void EnterRawMode() {
    termios raw = g_original;
    raw.c_iflag &= ~static_cast<tcflag_t>(ICRNL | INLCR | IGNCR | IXON | ISTRIP);  // Enter is CR
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | IEXTEN);  // ISIG stays: Ctrl+C ends
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    if (!installed_) {
      InstallSignalHandlers();
      std::atexit(RestoreTerminal);
      installed_ = true;
    }
    if (::tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0) g_changed = 1;
  }

  // The answer to a prompt in the terminal's own line mode, with echo and line editing. Keys typed
  // ahead begin the line.
  std::optional<std::string> ReadTerminalLine() {
    Settle();
    std::string line;
    if (TakeTypedAhead(line)) return line;
    termios cooked = g_original;
    cooked.c_iflag |= ICRNL;
    cooked.c_lflag |= ICANON | ECHO | ECHOE | ECHOK;
    ::tcsetattr(STDIN_FILENO, TCSANOW, &cooked);
    bool complete = false, abandoned = false;
    while (!complete && !abandoned) {
      // Ctrl+D ends the answer, not the input; a hang-up raises its signal.
      abandoned = Fill(-1) == Input::End;
      complete = TakeLine(line);
    }
    end_ = false;
    EnterRawMode();
    if (abandoned && line.empty()) return std::nullopt;
    return line;
  }

  // Moves the printable keys waiting to `line`, echoed as if typed now; true when Enter was
  // among them, which ends the line.
  bool TakeTypedAhead(std::string& line) {
    bool ended = false;
    while (!keys_.empty() && !ended) {
      const int key = keys_.front();
      keys_.pop_front();
      if (key >= 0x20 && key < 0x7F) line += static_cast<char>(key);
      if (key == 0x08 && !line.empty()) line.pop_back();  // Backspace
      ended = key == kEnterKey;
    }
    raw_.clear();  // the start of a sequence that never finished
    Emit(ended ? line + "\n" : line);
    return ended;
  }

  std::optional<std::string> ReadPlainLine() {
    std::string line;
    // Keys already taken apart go first (a NUL pair gives back its second byte).
    while (!keys_.empty()) {
      const int key = keys_.front();
      keys_.pop_front();
      if (key == '\n') return StripReturn(std::move(line));
      if (line.size() < kLongestLine) line += static_cast<char>(key & 0xFF);
    }
    bool complete = TakeLine(line);
    while (!complete && !end_) {
      Fill(-1);
      complete = TakeLine(line);
    }
    if (!complete && line.empty()) return std::nullopt;
    return StripReturn(std::move(line));
  }

  // Moves the bytes up to the first line end from raw_ to `line`; true when the line end was there.
  bool TakeLine(std::string& line) {
    const std::size_t end = raw_.find('\n');
    const std::size_t count = end == std::string::npos ? raw_.size() : end;
    line.append(raw_, 0, std::min(count, kLongestLine - std::min(line.size(), kLongestLine)));
    raw_.erase(0, end == std::string::npos ? count : count + 1);
    return end != std::string::npos;
  }

  static std::string StripReturn(std::string line) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
  }

  // Decodes what has arrived; at the start of a key sequence waits briefly for the rest of it.
  void Settle() {
    Fill(0);
    Decode(end_);
    const auto deadline = Clock::now() + kSequenceWait;
    while (keys_.empty() && !raw_.empty() && !end_ && Remaining(deadline) > 0) {
      Fill(Remaining(deadline));
      Decode(false);
    }
    if (keys_.empty()) Decode(true);
  }

  void Decode(bool complete) {
    while (true) {
      const auto decoded = terminal_ ? DecodeKey(raw_, complete) : DecodePlainKey(raw_, complete);
      if (!decoded) return;
      raw_.erase(0, decoded->length);
      if (decoded->report_row && reports_expected_ > reports_received_) {
        last_row_ = *decoded->report_row;
        ++reports_received_;
      } else {
        keys_.push_back(decoded->key);
      }
    }
  }

  enum class Input { Bytes, Nothing, End };

  // Reads what standard input has, waiting up to `wait_ms` (-1: no limit) for the first byte.
  Input Fill(int wait_ms) {
    if (end_) return Input::End;
    pollfd input{STDIN_FILENO, POLLIN, 0};
    const int ready = ::poll(&input, 1, wait_ms);
    if (ready == 0 || (ready < 0 && errno == EINTR)) return Input::Nothing;
    char buffer[256];
    const ssize_t got = ready > 0 ? ::read(STDIN_FILENO, buffer, sizeof buffer) : -1;
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) return Input::Nothing;
    if (got <= 0) {
      end_ = true;  // end of the input, a hang-up or a broken descriptor
      return Input::End;
    }
    raw_.append(buffer, static_cast<std::size_t>(got));
    return Input::Bytes;
  }

  // Terminal control and live text go the way of the ordinary output, after it.
  static void Emit(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
  }

  bool terminal_ = false;  // standard input is a terminal, in raw mode
  bool live_ = false;      // and standard output too: cursor control and live lines
  bool installed_ = false;
  bool end_ = false;
  std::string raw_;        // bytes not yet decoded
  std::deque<int> keys_;   // keys decoded, in the order they came
  unsigned reports_expected_ = 0, reports_received_ = 0;
  int last_row_ = 1;
};

}  // namespace

std::unique_ptr<Console> OpenConsole() { return std::make_unique<PosixConsole>(); }

}  // namespace zortester
