// zor-sim: the simulated device behind an RFC 2217 network serial port.
//
// Run-time control, one command a line on standard input, each answered with "ok" or "error: ..."
// on standard output:
//   fault KIND [COUNT [LETTER]]   the next COUNT replies (1) to LETTER (any) get the fault
//   clear-faults
//   interlock open|closed
//   power off|on
//   disconnect                    drop the current client
//   lines                         prints "lines DSR=Y DCD=Y CTS=Y RI=N" and the client's DTR and RTS
//   quit
#include <unistd.h>

// CLI11's inlined string handling trips a false null-dereference warning in GCC's optimiser.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wnull-dereference"
#endif
#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>

#include "device_model.h"
#include "faults.h"
#include "rfc2217_server.h"

namespace {

zorsim::Rfc2217Server* g_server = nullptr;

extern "C" void OnSignal(int) {
  if (g_server != nullptr) g_server->Stop();
}

struct FaultSpec {
  zorsim::FaultKind kind;
  unsigned count = 1;
  char letter = 0;
};

// KIND[:COUNT[:LETTER]] on the command line, KIND [COUNT [LETTER]] on the control input.
std::optional<FaultSpec> ParseFault(const std::string& text, char separator, std::string& error) {
  std::string parts[4];
  size_t n = 0;
  std::istringstream in(text);
  for (std::string part; n < 4 && std::getline(in, part, separator);) {
    if (!part.empty()) parts[n++] = part;
  }
  auto kind = n > 0 ? zorsim::ParseFaultKind(parts[0]) : std::nullopt;
  if (!kind) {
    error = "unknown fault '" + (n > 0 ? parts[0] : text) +
            "' (silent, wrong-echo, short, no-terminator, garbage, surplus, parity, hold-cts, drop-dsr, disconnect)";
    return std::nullopt;
  }
  FaultSpec spec{*kind};
  if (n > 1) {
    if (parts[1].find_first_not_of("0123456789") != std::string::npos || parts[1].size() > 6 || parts[1] == "0") {
      error = "the count must be a number from 1";
      return std::nullopt;
    }
    spec.count = static_cast<unsigned>(std::stoul(parts[1]));
  }
  if (n > 2) {
    if (parts[2].size() != 1) {
      error = "the letter must be one character";
      return std::nullopt;
    }
    spec.letter = parts[2][0];
  }
  if (n > 3) {
    error = "too many fields in '" + text + "'";
    return std::nullopt;
  }
  return spec;
}

bool SplitListen(const std::string& text, std::string& host, std::string& port) {
  size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon + 1 == text.size()) return false;
  host = text.substr(0, colon);
  port = text.substr(colon + 1);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  if (host.empty() || port.find_first_not_of("0123456789") != std::string::npos || port.size() > 5) return false;
  return std::stoul(port) <= 65535;
}

const char* YesNo(bool value) { return value ? "Y" : "N"; }

std::string Control(const std::string& line, zorsim::DeviceModel& model, zorsim::Rfc2217Server& server) {
  std::istringstream in(line);
  std::string command, argument;
  in >> command;
  if (command == "fault") {
    std::string rest, error;
    std::getline(in, rest);
    auto spec = ParseFault(rest, ' ', error);
    if (!spec) return "error: " + error;
    model.InjectFault(spec->kind, spec->count, spec->letter);
    return "ok";
  }
  if (command == "clear-faults") {
    model.ClearFaults();
    return "ok";
  }
  in >> argument;
  if (command == "interlock" && (argument == "open" || argument == "closed")) {
    model.SetInterlock(argument == "closed");
    return "ok";
  }
  if (command == "power" && (argument == "on" || argument == "off")) {
    model.SetPower(argument == "on", zorsim::DeviceModel::Clock::now());
    return "ok";
  }
  if (command == "disconnect") {
    server.DropClient();
    return "ok";
  }
  if (command == "lines") {
    auto lines = model.Lines(zorsim::DeviceModel::Clock::now());
    auto settings = server.Settings();
    return std::string("lines DSR=") + YesNo(lines.dsr) + " DCD=" + YesNo(lines.dcd) + " CTS=" + YesNo(lines.cts) +
           " RI=" + YesNo(lines.ri) + " DTR=" + YesNo(settings.dtr) + " RTS=" + YesNo(settings.rts);
  }
  if (command == "quit") {
    server.Stop();
    return "ok";
  }
  return "error: unknown command '" + line + "' (fault, clear-faults, interlock, power, disconnect, lines, quit)";
}

// Reads the control lines that have arrived; false at the end of the input.
bool ReadControl(std::string& pending, zorsim::DeviceModel& model, zorsim::Rfc2217Server& server) {
  char buffer[512];
  ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
  if (got <= 0) return false;
  pending.append(buffer, static_cast<size_t>(got));
  // Input that never ends a line (a stray file or device on stdin) must not grow without bound.
  constexpr size_t kMaxControlLine = 4096;
  if (pending.size() > kMaxControlLine && pending.find('\n') == std::string::npos) {
    pending.clear();
    std::cout << "error: control line too long" << std::endl;
    return true;
  }
  for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
    std::string line = pending.substr(0, end);
    pending.erase(0, end + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find_first_not_of(" \t") == std::string::npos) continue;
    std::cout << Control(line, model, server) << std::endl;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"zor-sim: a simulated ZORLINE device on an RFC 2217 network serial port"};
  zorsim::DeviceConfig config;
  std::string listen = "127.0.0.1:4001";
  std::string interlock = "closed";
  std::string firmware_version;
  long long busy_us = config.busy_time.count();
  long long time_constant_ms = config.time_constant.count();
  long long fault_hold_ms = config.fault_hold.count();
  bool pacing = true, trace = false;
  std::vector<std::string> faults;

  app.add_option("--listen", listen, "HOST:PORT to listen on; port 0 picks a free one")->capture_default_str();
  app.add_option("--channels", config.channels, "number of output channels, 0 to 5")->capture_default_str();
  app.add_option("--voltage-min", config.voltage_min, "lowest output voltage in V")->capture_default_str();
  app.add_option("--voltage-max", config.voltage_max, "highest output voltage in V")->capture_default_str();
  app.add_option("--precision", config.precision, "set-value grid in V")->capture_default_str();
  app.add_flag("--current-sensor", config.current_sensor, "fit the current sensor");
  app.add_option("--interlock", interlock, "interlock at the start")
      ->check(CLI::IsMember({"open", "closed"}))
      ->capture_default_str();
  app.add_option("--noise-seed", config.noise_seed, "seed of the measurement noise")->capture_default_str();
  app.add_option("--noise", config.noise, "scale of the measurement noise, 0 for exact readings")
      ->capture_default_str();
  app.add_option("--busy-time", busy_us, "microseconds a command keeps CTS inactive")
      ->check(CLI::Range(0LL, 10000000LL))
      ->capture_default_str();
  app.add_option("--time-constant", time_constant_ms, "milliseconds of the output response")
      ->check(CLI::Range(0LL, 3600000LL))
      ->capture_default_str();
  app.add_option("--fault-hold", fault_hold_ms, "milliseconds the hold-cts and drop-dsr faults last")
      ->check(CLI::Range(0LL, 3600000LL))
      ->capture_default_str();
  app.add_option("--firmware-version", firmware_version, "firmware version, 4 hex digits (0102)");
  // On by default: the host checks CTS right after sending a command and again after the echo,
  // which a busy device or one that drops its lines after a reply passes only on a line where
  // the bytes take their time.
  app.add_flag("--pacing,!--no-pacing", pacing,
               "spend a character time at 230400 baud 8E1 on every serial byte (default; --no-pacing: none)");
  app.add_flag("--trace", trace, "trace the exchange on stderr");
  app.add_option("--fault", faults, "KIND[:COUNT[:LETTER]] fault at the start (repeatable)");
  CLI11_PARSE(app, argc, argv);

  config.interlock_closed = interlock == "closed";
  config.busy_time = std::chrono::microseconds(busy_us);
  config.time_constant = std::chrono::milliseconds(time_constant_ms);
  config.fault_hold = std::chrono::milliseconds(fault_hold_ms);
  if (!firmware_version.empty()) {
    if (firmware_version.size() != 4 || firmware_version.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
      std::cerr << "zor-sim: --firmware-version needs 4 hex digits\n";
      return 2;
    }
    config.firmware_version = static_cast<uint16_t>(std::stoul(firmware_version, nullptr, 16));
  }
  if (std::string problem = zorsim::ConfigProblem(config); !problem.empty()) {
    std::cerr << "zor-sim: " << problem << "\n";
    return 2;
  }
  zorsim::ServerOptions options;
  if (!SplitListen(listen, options.host, options.port)) {
    std::cerr << "zor-sim: --listen needs HOST:PORT, not '" << listen << "'\n";
    return 2;
  }
  options.pacing = pacing;
  options.trace = trace ? stderr : nullptr;

  zorsim::DeviceModel model(config, zorsim::DeviceModel::Clock::now());
  for (const std::string& text : faults) {
    std::string error;
    auto spec = ParseFault(text, ':', error);
    if (!spec) {
      std::cerr << "zor-sim: --fault: " << error << "\n";
      return 2;
    }
    model.InjectFault(spec->kind, spec->count, spec->letter);
  }

  zorsim::Rfc2217Server server(model, options);
  std::string error;
  if (!server.Listen(error)) {
    std::cerr << "zor-sim: " << error << "\n";
    return 1;
  }
  g_server = &server;
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  std::string pending;
  server.WatchInput(STDIN_FILENO, [&] { return ReadControl(pending, model, server); });
  std::cout << "zor-sim listening on " << server.Url() << std::endl;
  server.Run();
  g_server = nullptr;
  return 0;
}
