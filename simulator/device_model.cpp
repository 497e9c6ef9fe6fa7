#include "device_model.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>
#include <utility>

namespace zorsim {
namespace {

using Clock = DeviceModel::Clock;

constexpr char kTerminator = '\r';
constexpr std::size_t kInputBufferSize = 256;

// Nominal readings and the standard deviation of their noise at noise 1.
constexpr double kSupplyMv = 24000.0, kSupplyNoiseMv = 10.0;
constexpr double k5VMv = 5000.0, k3VMv = 3300.0, kLogicNoiseMv = 2.0;
constexpr double kCpuCelsius = 42.0, kHeatsinkCelsius = 31.0, kTemperatureNoise = 0.05;
constexpr double kHvSupplyMv = 240000.0, kHvNoiseMv = 100.0;
constexpr double kOutputNoiseVolts = 0.020;
constexpr double kLoadOhms = 1e9, kCurrentNoiseAmps = 1e-12;

std::string Hex(uint64_t value, int digits) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text(static_cast<std::size_t>(digits), '0');
  for (int i = digits - 1; i >= 0; --i, value >>= 4) text[static_cast<std::size_t>(i)] = kDigits[value & 0xFU];
  return text;
}

std::optional<unsigned> HexDigit(char c) {
  if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
  if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
  if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
  return std::nullopt;
}

std::optional<unsigned> HexNumber(std::string_view text) {
  unsigned value = 0;
  for (char c : text) {
    const auto digit = HexDigit(c);
    if (!digit) return std::nullopt;
    value = value * 16 + *digit;
  }
  return value;
}

// A reading rounded and limited to what its field can carry.
int64_t Field(double value, int64_t lowest, int64_t highest) {
  return std::clamp(static_cast<int64_t>(std::llround(value)), lowest, highest);
}

// Two's complement in `bits` bits of a value that fits.
uint64_t Wire(int64_t value, int bits) { return static_cast<uint64_t>(value) & ((uint64_t{1} << bits) - 1); }

int64_t CentiKelvin(double celsius) { return Field((celsius + 273.15) * 100.0, 0, 0xFFFF); }

// Rounds to a multiple of `grid`, halves away from zero.
int RoundToGrid(int count, int grid) {
  const int half = grid / 2;
  const int steps = count >= 0 ? (count + half) / grid : -((-count + half) / grid);
  return steps * grid;
}

bool Finite(double value) { return std::isfinite(value); }

std::string RangeProblem(const DeviceConfig& c) {
  if (!Finite(c.voltage_min) || !Finite(c.voltage_max) || c.voltage_min < -3276.8 || c.voltage_max > 3276.7 ||
      c.voltage_min > c.voltage_max) {
    return "the voltage range must lie within -3276.8 V to 3276.7 V, its lower end not above its upper end";
  }
  if (!Finite(c.precision) || c.precision <= 0.0 || c.precision > 32.767) return "the precision must be above 0 V and at most 32.767 V";
  if (!Finite(c.shutdown_temperature) || c.shutdown_temperature < -273.15 || c.shutdown_temperature > 382.2) {
    return "the shutdown temperature must lie within -273.15 degC to 382.20 degC";
  }
  return {};
}

std::string TextProblem(const DeviceConfig& c) {
  if (c.firmware_date.size() != 11 || c.firmware_date.find(kTerminator) != std::string::npos) {
    return "the firmware date must be exactly 11 characters without a carriage return";
  }
  if (c.product_id.size() > 8191 || c.product_id.find(kTerminator) != std::string::npos) {
    return "the product identification must be at most 8191 characters without a carriage return";
  }
  return {};
}

}  // namespace

std::string ConfigProblem(const DeviceConfig& config) {
  if (config.channels > 5) return "the channel count must be 0 to 5";
  if (std::string range = RangeProblem(config); !range.empty()) return range;
  if (!Finite(config.noise) || config.noise < 0.0) return "the noise must be 0 or more";
  if (config.busy_time.count() < 0 || config.time_constant.count() < 0 || config.fault_hold.count() < 0) {
    return "the busy time, the time constant and the fault hold must not be negative";
  }
  return TextProblem(config);
}

DeviceModel::DeviceModel(DeviceConfig config, Clock::time_point start)
    : config_(std::move(config)),
      interlock_closed_(config_.interlock_closed),
      power_on_(start),
      rts_rise_(start),
      latest_(start),
      busy_from_(start),
      busy_until_(start),
      cts_hold_{start, start},
      dsr_drop_{start, start},
      rng_(config_.noise_seed),
      panel_(config_.channels) {
  if (std::string problem = ConfigProblem(config_); !problem.empty()) throw std::invalid_argument(problem);
  grid_ = std::max(1, static_cast<int>(std::lround(config_.precision * 10.0)));
  const int low = static_cast<int>(std::lround(config_.voltage_min * 10.0));
  const int high = static_cast<int>(std::lround(config_.voltage_max * 10.0));
  min_count_ = RoundToGrid(low, grid_) < low ? RoundToGrid(low, grid_) + grid_ : RoundToGrid(low, grid_);
  max_count_ = RoundToGrid(high, grid_) > high ? RoundToGrid(high, grid_) - grid_ : RoundToGrid(high, grid_);
  if (min_count_ > max_count_) max_count_ = min_count_;  // a range narrower than one grid step
  outputs_.resize(config_.channels);
  ResetOutputs(start);
  Render();
}

// ---- time and lines ----

Clock::time_point DeviceModel::StartOf(const Command& command) const {
  return std::max({command.arrival, busy_until_, rts_rise_});
}

bool DeviceModel::Busy(Clock::time_point now) const {
  if (busy_from_ <= now && now < busy_until_) return true;
  if (pending_.empty() || !Ready()) return false;
  const Clock::time_point begin = StartOf(pending_.front());  // due, not yet started
  return begin <= now && now < begin + config_.busy_time;
}

ModemLines DeviceModel::Lines(Clock::time_point now) const {
  ModemLines lines;
  lines.dsr = lines.dcd = powered_ && dtr_ && !dsr_drop_.Contains(now);
  lines.cts = lines.dsr && rts_ && !Busy(now) && !cts_hold_.Contains(now);
  return lines;
}

std::optional<Clock::time_point> DeviceModel::NextEvent() const {
  std::optional<Clock::time_point> next;
  const auto consider = [&next](Clock::time_point t) {
    if (!next || t < *next) next = t;
  };
  if (!output_.empty()) consider(output_.front().due);
  if (Ready() && !pending_.empty()) consider(StartOf(pending_.front()));
  for (Clock::time_point t : {busy_until_, cts_hold_.from, cts_hold_.until, dsr_drop_.from, dsr_drop_.until}) {
    if (t > latest_) consider(t);
  }
  return next;
}

void DeviceModel::Advance(Clock::time_point now) {
  latest_ = std::max(latest_, now);
  StartDueCommands(now);
  ReleaseDueReplies(now);
}

void DeviceModel::StartDueCommands(Clock::time_point now) {
  while (!pending_.empty() && Ready()) {
    const Clock::time_point begin = StartOf(pending_.front());
    if (begin > now) break;
    ReleaseDueReplies(begin);  // a disconnect due by then ends the connection first
    if (pending_.empty() || !Ready()) break;
    const Command command = std::move(pending_.front());
    pending_.pop_front();
    Execute(command, begin);
  }
}

void DeviceModel::ReleaseDueReplies(Clock::time_point now) {
  for (Reply& reply : output_) {
    if (reply.due > now) break;
    parity_error_ = parity_error_ || std::exchange(reply.parity_error, false);
    if (std::exchange(reply.disconnect, false)) {
      DropConnection();
      return;
    }
  }
}

void DeviceModel::SetHostLines(bool dtr, bool rts, Clock::time_point now) {
  Advance(now);
  if (rts && !rts_) rts_rise_ = now;
  if (!dtr) ClearInput();
  dtr_ = dtr;
  rts_ = rts;
  Advance(now);
}

// ---- input ----

void DeviceModel::Receive(std::string_view host_bytes, Clock::time_point now) {
  Advance(now);
  if (!powered_ || !dtr_) return;
  for (char c : host_bytes) {
    if (c == kTerminator) {
      EndLine(now);
    } else if (c != '\n' && BufferedBytes() < kInputBufferSize) {
      if (partial_.empty()) partial_since_ = now;
      partial_ += c;
    }
  }
  Advance(now);
}

void DeviceModel::EndLine(Clock::time_point now) {
  if (partial_.empty()) return;
  pending_.push_back({std::move(partial_), now});
  partial_.clear();
}

std::size_t DeviceModel::BufferedBytes() const {
  std::size_t bytes = partial_.size();
  for (const Command& command : pending_) bytes += command.line.size() + 1;
  return bytes;
}

void DeviceModel::ClearInput() {
  partial_.clear();
  pending_.clear();
}

void DeviceModel::Purge() {
  ClearInput();
  output_.clear();
}

void DeviceModel::DropConnection() {
  disconnect_ = true;
  ClearInput();
  output_.clear();
  dtr_ = rts_ = false;
}

bool DeviceModel::TakeParityError() { return std::exchange(parity_error_, false); }

bool DeviceModel::TakeDisconnect() { return std::exchange(disconnect_, false); }

// ---- output ----

std::string DeviceModel::TakeOutput(Clock::time_point now) {
  Advance(now);
  std::string bytes;
  while (!output_.empty() && output_.front().due <= now) {
    bytes += output_.front().bytes;
    output_.pop_front();
  }
  return bytes;
}

void DeviceModel::Execute(const Command& command, Clock::time_point begin) {
  busy_from_ = begin;
  busy_until_ = begin + config_.busy_time;
  const char letter = command.line.front();
  Reply reply{busy_until_, letter + Respond(letter, std::string_view(command.line).substr(1), begin) + kTerminator};
  if (const auto fault = faults_.Take(letter)) ApplyFault(*fault, reply);
  output_.push_back(std::move(reply));
  Render();
}

void DeviceModel::ApplyFault(FaultKind kind, Reply& reply) {
  reply.bytes = Corrupt(kind, std::move(reply.bytes));
  const Window hold{reply.due, reply.due + config_.fault_hold};
  switch (kind) {
    case FaultKind::ParityError: reply.parity_error = true; break;
    case FaultKind::Disconnect: reply.disconnect = true; break;
    case FaultKind::HoldCts: cts_hold_ = hold; break;
    case FaultKind::DropDsr: dsr_drop_ = hold; break;
    default: break;
  }
}

void DeviceModel::InjectFault(FaultKind kind, unsigned count, char letter) { faults_.Inject(kind, count, letter); }

void DeviceModel::ClearFaults() { faults_.Clear(); }

// ---- commands ----

std::string DeviceModel::Respond(char letter, std::string_view data, Clock::time_point t) {
  const bool bare = data.empty();
  switch (letter) {
    case 'z': return bare ? PurgeInput(t) : "";
    case 'Z': return bare ? InputEmpty(t) : "";
    case 'B': return StateCommand(data, t);
    case 'o': return VoltageCommand(data, t);
    case 'O': return MonitorCommand(data, t);
    case 'H': return bare ? Housekeeping() : "";
    case 'S': return bare ? HvSupply() : "";
    case 'I': return bare ? std::string(1, interlock_closed_ ? 'Y' : 'N') : "";
    case 'C': return bare ? CurrentMonitor(t) : "";
    case 'K': return KeypadCommand(data, t);
    case 'E': return EncoderCommand(data, t);
    case 'L': return bare ? DisplayRow("") : "";
    case 'l': return bare ? "" : DisplayRow(data);
    case 'W': return bare ? Capabilities() : "";
    case 'U': return bare ? Uptime(t) : "";
    case 'V': return bare ? Hex(config_.firmware_version, 4) : "";
    case 'D': return bare ? config_.firmware_date : "";
    case 'P': return bare ? config_.product_id : "";
    case 'N': return bare ? Hex(config_.product_number, 8) : "";
    default: return "";
  }
}

std::string DeviceModel::PurgeInput(Clock::time_point t) {
  while (!pending_.empty() && pending_.front().arrival <= t) pending_.pop_front();
  if (!partial_.empty() && partial_since_ <= t) partial_.clear();
  return "Y";
}

std::string DeviceModel::InputEmpty(Clock::time_point t) const {
  const bool waiting = (!pending_.empty() && pending_.front().arrival <= t) || (!partial_.empty() && partial_since_ <= t);
  return waiting ? "N" : "Y";
}

std::string DeviceModel::StateCommand(std::string_view data, Clock::time_point t) {
  if (data.empty() || data.size() > 2) return "";
  const auto channel = HexDigit(data[0]);
  if (!channel || (data.size() == 2 && data[1] != 'Y' && data[1] != 'N')) return "";
  const std::string digit = Hex(*channel, 1);
  if (*channel >= outputs_.size()) return digit;
  if (data.size() == 2) Switch(*channel, data[1] == 'Y', t);
  return digit + (outputs_[*channel].on ? 'Y' : 'N');
}

std::string DeviceModel::VoltageCommand(std::string_view data, Clock::time_point t) {
  if (data.size() != 1 && data.size() != 5) return "";
  const auto channel = HexDigit(data[0]);
  const auto value = HexNumber(data.substr(1));
  if (!channel || !value) return "";
  const std::string digit = Hex(*channel, 1);
  if (*channel >= outputs_.size()) return digit;
  if (data.size() == 5) SetCount(*channel, static_cast<int16_t>(static_cast<uint16_t>(*value)), t);
  return digit + Hex(Wire(outputs_[*channel].set_count, 16), 4);
}

std::string DeviceModel::MonitorCommand(std::string_view data, Clock::time_point t) {
  if (data.size() != 1) return "";
  const auto channel = HexDigit(data[0]);
  if (!channel) return "";
  const std::string digit = Hex(*channel, 1);
  if (*channel >= outputs_.size()) return digit;
  const double volts = OutputAt(outputs_[*channel], t) + Noise(kOutputNoiseVolts);
  return digit + Hex(Wire(Field(volts * 1000.0, -0x800000, 0x7FFFFF), 24), 6);
}

std::string DeviceModel::Housekeeping() {
  const auto mv = [this](double nominal, double noise) { return Hex(static_cast<uint64_t>(Field(nominal + Noise(noise), 0, 0xFFFF)), 4); };
  return mv(kSupplyMv, kSupplyNoiseMv) + mv(k5VMv, kLogicNoiseMv) + mv(k3VMv, kLogicNoiseMv) +
         Hex(static_cast<uint64_t>(CentiKelvin(kCpuCelsius + Noise(kTemperatureNoise))), 4);
}

std::string DeviceModel::HvSupply() {
  const auto mv = [this] { return Hex(static_cast<uint64_t>(Field(kHvSupplyMv + Noise(kHvNoiseMv), 0, 0xFFFFF)), 5); };
  const std::string positive = mv();
  const std::string negative = mv();
  return positive + negative + Hex(static_cast<uint64_t>(CentiKelvin(kHeatsinkCelsius + Noise(kTemperatureNoise))), 4);
}

std::string DeviceModel::CurrentMonitor(Clock::time_point t) {
  if (!config_.current_sensor) return "";
  double amps = Noise(kCurrentNoiseAmps);
  for (const Output& output : outputs_) amps += OutputAt(output, t) / kLoadOhms;
  return Hex(Wire(Field(amps / 1e-13, INT32_MIN, INT32_MAX), 32), 8);
}

std::string DeviceModel::KeypadCommand(std::string_view data, Clock::time_point t) {
  const auto code = data.size() == 2 ? HexNumber(data) : std::nullopt;
  if (!code) return "";
  ApplyPanel(panel_.Key(static_cast<uint8_t>(*code)), t);
  return Hex(*code, 2);
}

std::string DeviceModel::EncoderCommand(std::string_view data, Clock::time_point t) {
  if (data.empty()) {
    ApplyPanel(panel_.EncoderButton(), t);
    return "";
  }
  const auto code = data.size() == 1 ? HexDigit(data[0]) : std::nullopt;
  if (!code) return "";
  ApplyPanel(panel_.EncoderTurn(static_cast<uint8_t>(*code)), t);
  return Hex(*code, 1);
}

// The whole display for no data, one row for a row digit.
std::string DeviceModel::DisplayRow(std::string_view data) const {
  const DisplayMemory& memory = screen_.Memory();
  std::size_t first = 0;
  std::size_t count = memory.size();
  std::string reply;
  if (!data.empty()) {
    const auto row = data.size() == 1 ? HexDigit(data[0]) : std::nullopt;
    if (!row) return "";
    reply = Hex(*row, 1);
    if (*row >= static_cast<unsigned>(kScreenPages)) return reply;
    first = *row * static_cast<std::size_t>(kScreenWidth);
    count = kScreenWidth;
  }
  for (std::size_t i = first; i < first + count; ++i) reply += Hex(memory[i], 2);
  return reply;
}

std::string DeviceModel::Capabilities() const {
  const auto mv = [](double volts) { return Field(volts * 1000.0, INT32_MIN, INT32_MAX); };
  return Hex(config_.channels, 1) + Hex(static_cast<uint64_t>(CentiKelvin(config_.shutdown_temperature)), 4) +
         Hex(Wire(mv(config_.voltage_min), 32), 8) + Hex(Wire(mv(config_.voltage_max), 32), 8) +
         Hex(Wire(mv(config_.precision), 16), 4) + (config_.current_sensor ? 'Y' : 'N');
}

std::string DeviceModel::Uptime(Clock::time_point t) const {
  const auto elapsed = t - power_on_;
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(elapsed);
  const auto fraction = (elapsed - seconds) * 256 / std::chrono::seconds(1);
  return Hex(static_cast<uint64_t>(seconds.count()), 8) + Hex(static_cast<uint64_t>(fraction), 2);
}

// ---- outputs ----

int DeviceModel::LimitCount(int count) const { return std::clamp(RoundToGrid(count, grid_), min_count_, max_count_); }

void DeviceModel::SetCount(unsigned channel, int count, Clock::time_point t) {
  Output& output = outputs_[channel];
  output.set_count = LimitCount(count);
  Retarget(output, t);
}

void DeviceModel::Switch(unsigned channel, bool on, Clock::time_point t) {
  Output& output = outputs_[channel];
  output.on = on && interlock_closed_;
  Retarget(output, t);
}

void DeviceModel::Retarget(Output& output, Clock::time_point t) {
  output.from_volts = OutputAt(output, t);
  output.from_time = t;
  output.target_volts = output.on && powered_ ? output.set_count * 0.1 : 0.0;
}

double DeviceModel::OutputAt(const Output& output, Clock::time_point t) const {
  if (config_.time_constant.count() == 0) return output.target_volts;
  if (t <= output.from_time) return output.from_volts;
  const std::chrono::duration<double> elapsed = t - output.from_time;
  const std::chrono::duration<double> tau = config_.time_constant;
  return output.target_volts + (output.from_volts - output.target_volts) * std::exp(-elapsed / tau);
}

void DeviceModel::ApplyPanel(const PanelAction& action, Clock::time_point t) {
  if (action.channel >= outputs_.size()) return;
  const Output& output = outputs_[action.channel];
  switch (action.kind) {
    case PanelAction::Kind::None: break;
    case PanelAction::Kind::Adjust: SetCount(action.channel, output.set_count + action.delta, t); break;
    case PanelAction::Kind::SwitchOn: Switch(action.channel, true, t); break;
    case PanelAction::Kind::SwitchOff: Switch(action.channel, false, t); break;
    case PanelAction::Kind::Toggle: Switch(action.channel, !output.on, t); break;
  }
}

void DeviceModel::ResetOutputs(Clock::time_point t) {
  for (Output& output : outputs_) {
    output = Output{};
    output.set_count = LimitCount(0);
    output.from_time = t;
  }
}

void DeviceModel::SetInterlock(bool closed, Clock::time_point now) {
  Advance(now);
  interlock_closed_ = closed;
  if (!closed) {
    for (unsigned channel = 0; channel < outputs_.size(); ++channel) Switch(channel, false, now);
  }
  Render();
}

void DeviceModel::SetInterlock(bool closed) { SetInterlock(closed, latest_); }

void DeviceModel::SetPower(bool on, Clock::time_point now) {
  Advance(now);
  if (on == powered_) return;
  powered_ = on;
  ClearInput();
  output_.clear();
  busy_until_ = std::min(busy_until_, now);
  cts_hold_ = dsr_drop_ = Window{now, now};
  ResetOutputs(now);
  panel_.Reset();
  if (on) power_on_ = now;
  Render();
}

ChannelStatus DeviceModel::Channel(unsigned channel) const {
  if (channel >= outputs_.size()) return {};
  return {outputs_[channel].set_count * 0.1, outputs_[channel].on};
}

// ---- front panel and noise ----

void DeviceModel::Render() {
  std::vector<PanelChannel> channels;
  for (const Output& output : outputs_) channels.push_back({output.set_count, output.on});
  panel_.Render(screen_, {channels, interlock_closed_, config_.firmware_version});
}

double DeviceModel::Noise(double nominal) {
  if (config_.noise == 0.0) return 0.0;
  // Box-Muller on the raw engine output, so the sequence is the same with every standard library.
  const double u1 = (static_cast<double>(rng_()) + 0.5) / 4294967296.0;
  const double u2 = (static_cast<double>(rng_()) + 0.5) / 4294967296.0;
  return nominal * config_.noise * std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * std::numbers::pi * u2);
}

}  // namespace zorsim
