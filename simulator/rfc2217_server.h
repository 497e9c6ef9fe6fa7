// The simulated device's serial line offered as an RFC 2217 network serial port: one client at a
// time, Telnet data carrying the serial bytes, COM-PORT-OPTION carrying the line settings, DTR and
// RTS to the device and its DSR, DCD, CTS and RI back. A single-threaded poll() loop; other
// threads reach it only through Post, Stop and Settings.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "device_model.h"
#include "serial/telnet_codec.h"

namespace zorsim {

struct ServerOptions {
  std::string host = "127.0.0.1";  // a name, an IPv4 or an IPv6 address
  std::string port = "4001";       // "0" picks a free one
  // Every serial byte takes the time of one character at 230400 baud 8E1 (11 bits), both ways.
  bool pacing = false;
  // A hex and ASCII trace of the exchange, Telnet commands decoded.
  FILE* trace = nullptr;
};

// What the current (or last) client has set, as acknowledged.
struct SerialSettings {
  uint32_t baud_rate = 9600;
  uint8_t data_size = 8;
  uint8_t parity = 1;     // RFC 2217 codes: 1 none, 2 odd, 3 even, 4 mark, 5 space
  uint8_t stop_size = 1;  // 1 one, 2 two, 3 one and a half
  uint8_t flow = 1;       // 1 none, 2 XON/XOFF, 3 hardware
  bool dtr = false;
  bool rts = false;
  bool com_port = false;  // the client agreed to COM-PORT-OPTION
  bool connected = false;
  unsigned connections = 0;  // accepted since the start
};

class Rfc2217Server {
public:
  using Clock = DeviceModel::Clock;
  // 11 bits at 230400 baud.
  static constexpr std::chrono::nanoseconds kCharacterTime{47743};

  Rfc2217Server(DeviceModel& model, ServerOptions options);
  ~Rfc2217Server();
  Rfc2217Server(const Rfc2217Server&) = delete;
  Rfc2217Server& operator=(const Rfc2217Server&) = delete;

  // Binds and listens; false with the reason in error.
  bool Listen(std::string& error);
  uint16_t Port() const { return port_; }
  // rfc2217://HOST:PORT, the name to give the library.
  std::string Url() const;

  // Serves until Stop. Runs the posted tasks and the watched inputs in this thread.
  void Run();
  // From any thread or a signal handler.
  void Stop();
  // Runs task in the loop's thread, with the model; from any thread.
  void Post(std::function<void(DeviceModel&)> task);
  // Calls on_readable in the loop whenever fd is readable; it returns false to stop watching.
  void WatchInput(int fd, std::function<bool()> on_readable);
  // Closes the current client's connection, as a device server losing it; loop thread only.
  void DropClient();
  SerialSettings Settings() const;

private:
  struct Segment {
    bool data;           // serial bytes, paced; otherwise an encoded Telnet command
    std::string bytes;
    Clock::time_point first_due;  // when the first data byte has crossed the wire
    size_t released = 0;
    // When the first byte actually went out: a late wake-up must not squeeze the rest together.
    std::optional<Clock::time_point> first_sent;
  };
  struct Watch {
    int fd;
    std::function<bool()> on_readable;
  };

  void Accept(Clock::time_point now);
  void CloseClient(Clock::time_point now);
  void ReceiveFromClient(Clock::time_point now);
  void Service(Clock::time_point now);
  void DeliverToDevice(Clock::time_point now);
  void NotifyLines(Clock::time_point now, bool force);
  void NotifyState(uint8_t state, bool force);
  void ReleaseOutput(Clock::time_point now);
  size_t DueBytes(const Segment& segment, Clock::time_point now) const;
  Clock::time_point NextRelease(const Segment& segment) const;
  void Flush();
  Clock::time_point NextWake(Clock::time_point now) const;
  void RunPosted();
  void WaitForEvents(Clock::time_point now);

  void Negotiate(uint8_t verb, uint8_t option, Clock::time_point now);
  void ComPort(uint8_t code, std::span<const uint8_t> value, Clock::time_point now);
  void SetControl(uint8_t value, Clock::time_point now);
  void Purge(uint8_t value);
  void SendCommand(std::string bytes);
  void Answer(uint8_t code, std::span<const uint8_t> value);
  void Answer(uint8_t code, uint8_t value) { Answer(code, std::span<const uint8_t>(&value, 1)); }
  void QueueData(std::string bytes, Clock::time_point now);
  void Trace(const char* direction, const std::string& text) const;
  void TraceBytes(const char* direction, std::string_view bytes) const;
  void Publish();

  DeviceModel& model_;
  ServerOptions options_;
  Clock::time_point start_;
  int listen_fd_ = -1;
  uint16_t port_ = 0;
  int wake_[2] = {-1, -1};
  std::atomic<bool> stop_{false};

  mutable std::mutex mutex_;  // guards posted_ and settings_
  std::vector<std::function<void(DeviceModel&)>> posted_;
  SerialSettings settings_;  // published copy of line_
  SerialSettings line_;
  std::vector<Watch> watches_;

  // The current client.
  int client_fd_ = -1;
  zor::telnet::Parser parser_;
  zor::telnet::Options telnet_options_;
  bool com_port_ = false;
  uint8_t modem_mask_ = 0xFF;
  uint8_t line_mask_ = 0;
  bool suspended_ = false;  // the client asked to hold the data
  bool break_on_ = false;
  uint8_t inbound_flow_ = 14;
  int last_lines_ = -1;     // the modem-state bits last told, -1 before the first
  std::string to_device_;   // host bytes still on the wire
  Clock::time_point to_device_due_;  // when to_device_[0] has arrived
  std::deque<Segment> to_host_;
  Clock::time_point wire_free_;      // when the last queued data byte has crossed the wire
  std::string socket_out_;           // encoded bytes the socket has not taken yet
};

}  // namespace zorsim
