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
#include <string>

#include "console.h"
#include "key_decoder.h"
#include "key_input.h"

namespace zortester {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How long the terminal may take to report the cursor position.
constexpr milliseconds kReportWait{500};

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

class PosixConsole final : public Console, private KeyInput {
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

  bool KeyWaiting() override { return KeyInput::KeyWaiting(); }

  void AwaitKey(int max_ms) override {
    if (!keys_.empty() || !raw_.empty() || end_) return;
    pollfd input{STDIN_FILENO, POLLIN, 0};
    (void)::poll(&input, 1, max_ms);  // input, time-out or a signal: the caller looks again
  }

  int ReadKey() override { return KeyInput::ReadKey(); }

  bool InputEnded() override { return KeyInput::InputEnded(); }

  int CursorRow() override {
    if (!live_) return 1;
    const unsigned reports = reports_received_;
    Emit("\x1b[6n");
    ++reports_expected_;
    const auto deadline = Clock::now() + kReportWait;
    while (reports_received_ == reports && !end_ && RemainingMs(deadline) > 0) {
      Fill(RemainingMs(deadline));
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
      Fill(-1);
      abandoned = end_;
      complete = TakeLine(raw_, line);
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

  // On a terminal its key sequences; the terminal's cursor reports that CursorRow waits for are
  // taken as such.
  void Decode(bool complete) override {
    if (!terminal_) return KeyInput::Decode(complete);
    while (const auto decoded = DecodeKey(raw_, complete)) {
      raw_.erase(0, decoded->length);
      if (decoded->report_row && reports_expected_ > reports_received_) {
        last_row_ = *decoded->report_row;
        ++reports_received_;
      } else {
        keys_.push_back(decoded->key);
      }
    }
  }

  void Fill(int wait_ms) override {
    if (end_) return;
    pollfd input{STDIN_FILENO, POLLIN, 0};
    const int ready = ::poll(&input, 1, wait_ms);
    if (ready == 0 || (ready < 0 && errno == EINTR)) return;
    char buffer[256];
    const ssize_t got = ready > 0 ? ::read(STDIN_FILENO, buffer, sizeof buffer) : -1;
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (got <= 0) {
      end_ = true;  // end of the input, a hang-up or a broken descriptor
      return;
    }
    raw_.append(buffer, static_cast<std::size_t>(got));
  }

  // Terminal control and live text go the way of the ordinary output, after it.
  static void Emit(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
  }

  bool terminal_ = false;  // standard input is a terminal, in raw mode
  bool live_ = false;      // and standard output too: cursor control and live lines
  bool installed_ = false;
  unsigned reports_expected_ = 0, reports_received_ = 0;
  int last_row_ = 1;
};

}  // namespace

std::unique_ptr<Console> OpenConsole() { return std::make_unique<PosixConsole>(); }

}  // namespace zortester
