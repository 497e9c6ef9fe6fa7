// The console on Windows: the console window's key reads and cursor services, or plain standard
// input and output.
//
// From a console the keys come from _kbhit and _getch: a key without a character arrives as 0 or
// 0xE0 followed by its extended code. The cursor services work on the screen buffer of standard
// output, live text goes straight to it. Input that is not a console (a pipe or a file) is taken
// byte by byte as the key reads of a PC see them: a NUL byte and the following byte are one
// extended key, and the end of the input reads as Esc.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h.
#include <conio.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <limits>
#include <string>

#include "console.h"
#include "key_input.h"

namespace zortester {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr char kCtrlZ = 0x1A;  // ends a line typed at the console as the end of the input

// Wine's console reads the terminal it runs in only once a program has asked for input; until
// then no key is ever waiting. A read of nothing, which returns at once, starts it.
void StartWineConsoleInput(HANDLE input) {
  const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  if (ntdll == nullptr || ::GetProcAddress(ntdll, "wine_get_version") == nullptr) return;
  char nothing[1];
  DWORD count = 0;
  ::ReadConsoleA(input, nothing, 0, &count, nullptr);
}

bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode) != 0;
}

// Keys of a pipe or a file, read with ReadFile so that no byte is translated. A pipe is asked how
// much it holds before it is read, so that no read waits longer than its caller allows.
class PlainInput final : public KeyInput {
 public:
  explicit PlainInput(HANDLE handle)
      : handle_(handle), pipe_(handle != nullptr && ::GetFileType(handle) == FILE_TYPE_PIPE) {
    end_ = handle == nullptr || handle == INVALID_HANDLE_VALUE;
  }

 private:
  void Fill(int wait_ms) override {
    if (end_) return;
    DWORD wanted = sizeof buffer_;
    if (pipe_) {
      const auto available = Available(wait_ms);
      if (!available || *available == 0) return;
      wanted = std::min(wanted, *available);
    }
    DWORD got = 0;
    if (::ReadFile(handle_, buffer_, wanted, &got, nullptr) == 0 || got == 0) {
      end_ = true;  // the end of the input, a closed pipe or a broken handle
      return;
    }
    raw_.append(buffer_, got);
  }

  // The bytes that the pipe holds, once there are some or the wait is over; nothing and the end of
  // the input when the writer has closed it. With no limit the read itself waits. A pipe that
  // cannot be asked (Wine's pipes from the host) is read as a file from then on: each read then
  // waits for the writer, which makes no difference for keys written ahead.
  std::optional<DWORD> Available(int wait_ms) {
    if (wait_ms < 0) return sizeof buffer_;
    const auto deadline = Clock::now() + milliseconds(wait_ms);
    while (true) {
      DWORD available = 0;
      if (::PeekNamedPipe(handle_, nullptr, 0, nullptr, &available, nullptr) == 0) {
        if (::GetLastError() != ERROR_BROKEN_PIPE) {
          pipe_ = false;
          return sizeof buffer_;
        }
        end_ = true;
        return std::nullopt;
      }
      if (available > 0 || RemainingMs(deadline) == 0) return available;
      ::Sleep(1);
    }
  }

  HANDLE handle_;
  bool pipe_;
  char buffer_[256];
};

class Win32Console final : public Console {
 public:
  Win32Console()
      : input_(::GetStdHandle(STD_INPUT_HANDLE)),
        output_(::GetStdHandle(STD_OUTPUT_HANDLE)),
        console_(IsConsole(input_)),
        live_(console_ && IsConsole(output_)),
        plain_(console_ ? nullptr : input_) {
    if (console_) StartWineConsoleInput(input_);
  }
  ~Win32Console() override { std::fflush(stdout); }
  Win32Console(const Win32Console&) = delete;
  Win32Console& operator=(const Win32Console&) = delete;

  bool KeyWaiting() override { return console_ ? _kbhit() != 0 : plain_.KeyWaiting(); }

  int ReadKey() override {
    if (!console_) return plain_.ReadKey();
    const int first = _getch();
    if (first == 0 || first == 0xE0) return kExtendedKey + _getch();
    return first;
  }

  bool InputEnded() override { return !console_ && plain_.InputEnded(); }

  int CursorRow() override {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!live_ || !ScreenInfo(info)) return 1;
    return info.dwCursorPosition.Y + 1;
  }

  void PlaceCursor(int column, int row) override {
    if (!live_) return;
    std::fflush(stdout);
    ::SetConsoleCursorPosition(output_, COORD{Coordinate(column), Coordinate(row)});
  }

  void ClearToEndOfLine() override {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!live_ || !ScreenInfo(info)) return;
    const COORD at = info.dwCursorPosition;
    const auto count = static_cast<DWORD>(std::max(0, info.dwSize.X - at.X));
    DWORD done = 0;
    ::FillConsoleOutputCharacterA(output_, ' ', count, at, &done);
    ::FillConsoleOutputAttribute(output_, info.wAttributes, count, at, &done);
  }

  void WriteDirect(std::string_view text) override {
    if (!live_) return;
    std::fflush(stdout);
    while (!text.empty()) {
      const auto part = static_cast<DWORD>(std::min<std::size_t>(text.size(), 4096));
      DWORD written = 0;
      if (::WriteConsoleA(output_, text.data(), part, &written, nullptr) == 0 || written == 0) return;
      text.remove_prefix(written);
    }
  }

  std::optional<std::string> ReadLine() override {
    std::fflush(stdout);
    return console_ ? ReadConsoleLine() : plain_.ReadPlainLine();
  }

 private:
  // The ordinary output first, so that the position is the one after it.
  bool ScreenInfo(CONSOLE_SCREEN_BUFFER_INFO& info) {
    std::fflush(stdout);
    return ::GetConsoleScreenBufferInfo(output_, &info) != 0;
  }

  // A column or row counted from 1 as the console's coordinate counted from 0.
  static SHORT Coordinate(int from_one) {
    return static_cast<SHORT>(std::clamp(from_one - 1, 0, int{std::numeric_limits<SHORT>::max()}));
  }

  // The answer to a prompt in the console's own line mode, with echo and line editing; keys typed
  // ahead begin the line. Ctrl+Z ends it as the end of the input.
  std::optional<std::string> ReadConsoleLine() {
    DWORD saved = 0;
    ::GetConsoleMode(input_, &saved);
    ::SetConsoleMode(input_, saved | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT | ENABLE_PROCESSED_INPUT);
    std::string line;
    bool complete = false, abandoned = false;
    while (!complete && !abandoned) {
      char part[256];
      DWORD got = 0;
      abandoned = ::ReadConsoleA(input_, part, sizeof part, &got, nullptr) == 0 || got == 0;
      std::string text(part, got);
      const std::size_t stop = text.find(kCtrlZ);
      if (stop != std::string::npos) {
        text.erase(stop);
        abandoned = true;
      }
      complete = TakeLine(text, line);
    }
    ::SetConsoleMode(input_, saved);
    if (abandoned && line.empty()) return std::nullopt;
    return StripReturn(std::move(line));
  }

  HANDLE input_, output_;
  bool console_;  // standard input is a console: keys from _kbhit and _getch
  bool live_;     // and standard output too: cursor control and live lines
  PlainInput plain_;
};

}  // namespace

std::unique_ptr<Console> OpenConsole() { return std::make_unique<Win32Console>(); }

}  // namespace zortester
