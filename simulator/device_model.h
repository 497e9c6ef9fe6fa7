// The simulated ZORLINE device: pure logic, no sockets, no threads, no sleeping. Host bytes and
// host lines go in, reply bytes and device lines come out; the caller passes the current time in
// every call, so tests run in virtual time.
//
// Line behaviour:
// - DSR and DCD are active while the device is powered and the host holds DTR active.
// - CTS is active while DSR is, the host holds RTS active and no command is being processed;
//   while the host holds RTS inactive no new command is started (the purge handshake).
// - The host lines start inactive, as with a closed port; a transport sets them on connection.
// - Bytes are ignored while the device is off or DTR is inactive. A command is a line ending in
//   a carriage return; line feeds and empty lines are ignored. The input buffer holds 256 bytes;
//   bytes beyond are lost.
// - Commands are taken one at a time, in order. Processing one takes busy_time, with CTS
//   inactive; its effect happens at its start and its reply is due at the end, when CTS is
//   active again. The default is no busy time: the host reads the echo with a ready check right
//   after sending, so a device whose CTS is still inactive then fails that read (-10); a busy
//   time shows exactly that.
//
// Replies: the echoed letter, the data, a carriage return. Hex digits in replies are upper case;
// in commands either case is accepted. The commands and their reply data:
//   z  purge the input buffer: "Y"          Z  input buffer empty: "Y" or "N"
//   B<d> / B<d>Y|N   output state of channel d: d, "Y" or "N"
//   o<d> / o<d>hhhh  set value in 0.1 V (signed 16-bit): d, 4 hex digits of the value in force
//   O<d>             measured output in mV (signed 24-bit): d, 6 hex digits
//   H  supply, 5 V, 3.3 V in mV and CPU temperature in 0.01 K: 4 x 4 hex digits
//   S  positive and negative HV supply in mV (5 hex digits each), heatsink 0.01 K (4 hex digits)
//   I  interlock closed: "Y" or "N"
//   C  current in 0.1 pA (signed 32-bit, 8 hex digits); nothing when no sensor is fitted
//   K<hh>  keypad code: the code; E  encoder button: nothing; E<h>  encoder turn: the code
//   L  the display memory, 2048 hex digits;  l<r>  row r: r and 256 hex digits
//   W  capabilities (26 characters)   U  uptime: 8 hex digits of seconds, 2 of 1/256 s
//   V  firmware version, 4 hex digits  D  firmware date  P  product identification
//   N  product number, 8 hex digits
// A channel the device lacks (or a display row 8 to F) is answered with its digit alone. An
// unknown letter, or data that do not fit the command, is answered with the echo and the
// terminator alone, and nothing changes.
//
// Outputs: set values are rounded to the device's grid (the precision, at least 0.1 V; halves
// away from zero) and limited to [voltage_min, voltage_max]. A measured output follows its
// target (the set value while on, else 0 V) as a first-order response with time_constant.
// Opening the interlock switches every output off, and while it is open a channel cannot be
// switched on (the confirmation then reads "N"). Housekeeping: supply 24 V, 5 V, 3.3 V, CPU
// 42 degC; HV supplies +240 V and 240 V; heatsink 31 degC. The current sensor sees a 1 GOhm load
// on every output. With noise > 0 every measurement carries seeded Gaussian noise of noise times
// its nominal level (outputs 20 mV, supplies 2 to 10 mV, HV 100 mV, temperatures 0.05 K,
// current 1 pA); with 0 all readings are exact.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "display.h"
#include "faults.h"
#include "front_panel.h"

namespace zorsim {

struct DeviceConfig {
  unsigned channels = 4;                  // 0 to 5
  double voltage_min = -3000.0;           // V, -3276.8 to voltage_max
  double voltage_max = 3000.0;            // V, up to 3276.7
  double precision = 0.1;                 // V, above 0 and up to 32.767
  bool current_sensor = false;
  double shutdown_temperature = 85.0;     // degC, -273.15 to 382.20 (reported only)
  bool interlock_closed = true;
  uint32_t noise_seed = 1;
  double noise = 1.0;                     // scale of the measurement noise, 0 for exact readings
  std::chrono::microseconds busy_time{0};       // CTS inactive while a command is processed
  std::chrono::milliseconds time_constant{50};  // of the measured outputs; 0 follows at once
  std::chrono::milliseconds fault_hold{3000};   // how long HoldCts and DropDsr last
  uint16_t firmware_version = 0x0102;
  std::string firmware_date = "Dec 11 2026";    // exactly 11 characters
  std::string product_id = "ZORLINE HV-4 simulated";  // no carriage return, up to 8191 characters
  uint32_t product_number = 0x00012345;
};

// What is wrong with a configuration, in a sentence; empty when it is usable.
std::string ConfigProblem(const DeviceConfig& config);

struct ModemLines {
  bool dsr = false;
  bool dcd = false;
  bool cts = false;
  bool ri = false;  // never rings
};

struct ChannelStatus {
  double set_voltage = 0.0;  // V, on the device's grid
  bool on = false;
};

class DeviceModel {
 public:
  using Clock = std::chrono::steady_clock;

  // Powered on at `start`. Throws std::invalid_argument with ConfigProblem's text.
  DeviceModel(DeviceConfig config, Clock::time_point start);

  // Times passed in must not go backwards.
  void Receive(std::string_view host_bytes, Clock::time_point now);
  void SetHostLines(bool dtr, bool rts, Clock::time_point now);
  // Starts the commands that are due; the other calls with a time do this themselves.
  void Advance(Clock::time_point now);
  // The reply bytes due by `now`, removed from the device.
  std::string TakeOutput(Clock::time_point now);
  // The device's lines at `now` (at or after the latest time passed in).
  ModemLines Lines(Clock::time_point now) const;
  // The next time at which the lines or the output change; a time already past means output is
  // waiting. Nothing when the device waits for the host.
  std::optional<Clock::time_point> NextEvent() const;

  bool TakeParityError();  // a line error to report, once
  bool TakeDisconnect();   // the transport must close the connection (host lines then inactive)

  void InjectFault(FaultKind kind, unsigned count, char letter = 0);
  void ClearFaults();
  void SetInterlock(bool closed, Clock::time_point now);
  void SetInterlock(bool closed);  // at the latest time passed in
  // Switching off loses the buffers and the outputs; switching on starts afresh (uptime 0).
  void SetPower(bool on, Clock::time_point now);
  // The host purged the device's queues: received bytes not yet taken and replies not yet sent.
  void Purge();

  // The front panel: the 1024-byte display memory (8 pages x 128 columns, bit 0 on top).
  const DisplayMemory& Display() const { return screen_.Memory(); }
  const Screen& PanelScreen() const { return screen_; }
  const FrontPanel& Panel() const { return panel_; }

  const DeviceConfig& Config() const { return config_; }
  ChannelStatus Channel(unsigned channel) const;  // off at 0 V for a channel it lacks
  bool InterlockClosed() const { return interlock_closed_; }
  bool Powered() const { return powered_; }

 private:
  struct Command {
    std::string line;
    Clock::time_point arrival;
  };
  struct Reply {
    Clock::time_point due;
    std::string bytes;
    bool parity_error = false;
    bool disconnect = false;
  };
  struct Output {
    int set_count = 0;  // 0.1 V
    bool on = false;
    // The measured value moves from from_volts (at from_time) toward target_volts.
    double from_volts = 0.0;
    Clock::time_point from_time;
    double target_volts = 0.0;
  };
  struct Window {  // [from, until)
    Clock::time_point from, until;
    bool Contains(Clock::time_point t) const { return from <= t && t < until; }
  };

  bool Ready() const { return powered_ && dtr_ && rts_; }
  Clock::time_point StartOf(const Command& command) const;
  bool Busy(Clock::time_point now) const;
  void StartDueCommands(Clock::time_point now);
  void ReleaseDueReplies(Clock::time_point now);
  void EndLine(Clock::time_point now);
  std::size_t BufferedBytes() const;
  void ClearInput();
  void DropConnection();
  void Execute(const Command& command, Clock::time_point begin);
  void ApplyFault(FaultKind kind, Reply& reply);

  std::string Respond(char letter, std::string_view data, Clock::time_point t);
  std::string StateCommand(std::string_view data, Clock::time_point t);
  std::string VoltageCommand(std::string_view data, Clock::time_point t);
  std::string MonitorCommand(std::string_view data, Clock::time_point t);
  std::string Housekeeping();
  std::string HvSupply();
  std::string CurrentMonitor(Clock::time_point t);
  std::string KeypadCommand(std::string_view data, Clock::time_point t);
  std::string EncoderCommand(std::string_view data, Clock::time_point t);
  std::string DisplayRow(std::string_view data) const;
  std::string Capabilities() const;
  std::string Uptime(Clock::time_point t) const;
  std::string PurgeInput(Clock::time_point t);
  std::string InputEmpty(Clock::time_point t) const;

  int LimitCount(int count) const;
  void SetCount(unsigned channel, int count, Clock::time_point t);
  void Switch(unsigned channel, bool on, Clock::time_point t);
  void Retarget(Output& output, Clock::time_point t);
  double OutputAt(const Output& output, Clock::time_point t) const;
  void ApplyPanel(const PanelAction& action, Clock::time_point t);
  void ResetOutputs(Clock::time_point t);
  void Render();
  double Noise(double nominal);

  DeviceConfig config_;
  int grid_ = 1;                 // counts of 0.1 V
  int min_count_ = 0, max_count_ = 0;
  std::vector<Output> outputs_;
  bool interlock_closed_;
  bool powered_ = true;
  bool dtr_ = false, rts_ = false;
  Clock::time_point power_on_, rts_rise_, latest_;
  Clock::time_point busy_from_, busy_until_;
  Window cts_hold_{}, dsr_drop_{};

  std::string partial_;  // the line being received
  Clock::time_point partial_since_;
  std::deque<Command> pending_;
  std::deque<Reply> output_;
  bool parity_error_ = false, disconnect_ = false;

  FaultPlan faults_;
  std::mt19937 rng_;
  FrontPanel panel_;
  Screen screen_;
};

}  // namespace zorsim
