// Drives the library's RFC 2217 line against a server no one here wrote and reports what it saw.
//
// rfc2217_probe URL COMMAND REPLY [--lines]
//   opens the line, sets DTR and RTS, sends COMMAND and a carriage return and expects REPLY and a
//   carriage return; with --lines it also expects DSR, DCD and CTS to follow DTR and RTS (CTS
//   dropping while RTS is inactive). Exit status 0 when everything held, 1 otherwise.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "serial/rfc2217_line.h"

namespace {

using Clock = std::chrono::steady_clock;

int Fail(const char* what) {
  std::printf("FAIL: %s\n", what);
  return 1;
}

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Waits up to 2 s for the status lines to read `want` (of CTS, DSR and DCD).
bool WaitForLines(zor::Line& line, uint32_t want) {
  const uint32_t mask = zor::MS_CTS_ON | zor::MS_DSR_ON | zor::MS_RLSD_ON;
  auto deadline = Clock::now() + std::chrono::seconds(2);
  uint32_t status = 0;
  while (Clock::now() < deadline) {
    if (!line.ModemStatus(status)) return false;
    if ((status & mask) == want) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  std::printf("status lines %02X, wanted %02X\n", status & mask, want);
  return false;
}

bool Escape(zor::Line& line, zor::Escape function, const char* name) {
  auto start = Clock::now();
  bool ok = line.EscapeFunction(function);
  std::printf("%s: %s in %.1f ms\n", name, ok ? "ok" : "failed", MsSince(start));
  return ok;
}

bool RoundTrip(zor::Line& line, const std::string& command, const std::string& expected) {
  std::string request = command + "\r";
  uint32_t written = 0;
  if (!line.Write(request.data(), static_cast<uint32_t>(request.size()), written)) return false;
  char reply[256];
  uint32_t total = 0;
  auto deadline = Clock::now() + std::chrono::seconds(2);
  while (Clock::now() < deadline && (total == 0 || reply[total - 1] != '\r') && total < sizeof reply) {
    uint32_t got = 0;
    if (!line.Read(reply + total, static_cast<uint32_t>(sizeof reply - total), got)) return false;
    total += got;
  }
  std::string received(reply, total);
  std::printf("sent '%s', received '%s'\n", command.c_str(), received.substr(0, received.find('\r')).c_str());
  return received == expected + "\r";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: rfc2217_probe URL COMMAND REPLY [--lines]\n");
    return 2;
  }
  const bool lines = argc > 4 && std::strcmp(argv[4], "--lines") == 0;
  auto start = Clock::now();
  auto line = zor::OpenRfc2217Line(argv[1]);
  if (!line) return Fail("cannot connect");
  if (!line->GetState()) return Fail("the server did not agree to COM-PORT-OPTION");
  if (!line->SetState()) return Fail("the line settings were not acknowledged");
  if (!line->SetTimeouts(zor::Timeouts::Normal) || !line->Purge()) return Fail("time-outs or purge");
  std::printf("opened in %.1f ms\n", MsSince(start));
  if (!Escape(*line, zor::Escape::SetDtr, "DTR on") || !Escape(*line, zor::Escape::SetRts, "RTS on")) {
    return Fail("DTR or RTS could not be set");
  }
  const uint32_t all = zor::MS_CTS_ON | zor::MS_DSR_ON | zor::MS_RLSD_ON;
  if (lines && !WaitForLines(*line, all)) return Fail("DSR, DCD and CTS did not follow DTR and RTS");
  if (!RoundTrip(*line, argv[2], argv[3])) return Fail("the command did not round-trip");
  // Changes that a server may leave unanswered must not stop the line.
  if (!Escape(*line, zor::Escape::ClrRts, "RTS off")) return Fail("RTS could not be cleared");
  if (lines && !WaitForLines(*line, zor::MS_DSR_ON | zor::MS_RLSD_ON)) return Fail("CTS did not follow RTS");
  if (!Escape(*line, zor::Escape::SetRts, "RTS on")) return Fail("RTS could not be set again");
  if (lines && !WaitForLines(*line, all)) return Fail("CTS did not come back with RTS");
  if (!RoundTrip(*line, argv[2], argv[3])) return Fail("the command did not round-trip a second time");
  if (!Escape(*line, zor::Escape::ClrRts, "RTS off") || !Escape(*line, zor::Escape::ClrDtr, "DTR off")) {
    return Fail("DTR or RTS could not be cleared");
  }
  uint32_t status = 0;
  if (!line->ModemStatus(status)) return Fail("status lines unreadable");
  line->Close();
  std::printf("PASS in %.1f ms\n", MsSince(start));
  return 0;
}
