// zor-sim's command decoding fed arbitrary host bytes, with the host's lines, power, interlock,
// purges and injected faults interleaved, in virtual time.
//
// The input: a configuration byte (bits 0-2: channels, modulo 6; bit 3: current sensor; bit 4:
// interlock open; bit 5: measurement noise; bit 6: a busy time; bit 7: outputs follow at once),
// a byte of fault hold in 10 ms, then host bytes. 0xFF starts a control step, told by the next
// byte: its high nibble the step, its low nibble the argument:
//   0 time passes (argument x 7 ms) and the replies are taken   1 DTR (bit 0) and RTS (bit 1)
//   2 fault of kind argument for the reply to the next byte     3 power (bit 0)
//   4 interlock closed (bit 0)   5 purge   6 faults cleared   7 a 0xFF host byte
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "device_model.h"
#include "fuzz_input.h"

namespace {

using zorsim::DeviceModel;
using Clock = DeviceModel::Clock;

void Check(bool holds) {
  if (!holds) std::abort();
}

zorsim::DeviceConfig ConfigFrom(uint8_t config, uint8_t hold) {
  zorsim::DeviceConfig c;
  c.channels = config % 8 % 6;
  c.current_sensor = (config & 0x08) != 0;
  c.interlock_closed = (config & 0x10) == 0;
  c.noise = (config & 0x20) != 0 ? 1.0 : 0.0;
  c.busy_time = std::chrono::microseconds((config & 0x40) != 0 ? 200 : 0);
  c.time_constant = std::chrono::milliseconds((config & 0x80) != 0 ? 0 : 50);
  c.fault_hold = std::chrono::milliseconds(hold * 10);
  return c;
}

class Run {
public:
  Run(zorsim::DeviceConfig config, Clock::time_point start) : model_(std::move(config), start), now_(start) {
    model_.SetHostLines(true, true, now_);
  }

  void Host(std::string_view bytes) {
    model_.Receive(bytes, now_);
    CheckLines();
  }

  void Step(uint8_t step, zorfuzz::Input& input) {
    const unsigned argument = step & 0x0F;
    switch (step >> 4) {
      case 0: Pass(std::chrono::milliseconds(argument * 7)); break;
      case 1: model_.SetHostLines((argument & 1) != 0, (argument & 2) != 0, now_); break;
      case 2:
        model_.InjectFault(static_cast<zorsim::FaultKind>(argument % 10), 1, static_cast<char>(input.Byte()));
        faulty_ = true;
        break;
      case 3: model_.SetPower((argument & 1) != 0, now_); break;
      case 4: model_.SetInterlock((argument & 1) != 0, now_); break;
      case 5: model_.Purge(); break;
      case 6: model_.ClearFaults(); break;
      case 7: Host("\xFF"); break;
      default: (void)model_.NextEvent(); break;
    }
    CheckLines();
  }

  // Time passes; the replies due are taken and looked at.
  void Pass(Clock::duration time) {
    now_ += time;
    const std::string replies = model_.TakeOutput(now_);
    (void)model_.TakeParityError();
    (void)model_.TakeDisconnect();
    // Without faults every reply is whole: an echo, its data, the terminator.
    if (!faulty_ && !replies.empty()) {
      Check(replies.back() == '\r');
      Check(replies.find("\r\r") == std::string::npos && replies.front() != '\r');
    }
    CheckLines();
  }

private:
  void CheckLines() const {
    const zorsim::ModemLines lines = model_.Lines(now_);
    Check(lines.dsr == lines.dcd && (!lines.cts || lines.dsr) && !lines.ri);
  }

  DeviceModel model_;
  Clock::time_point now_;
  bool faulty_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zorfuzz::Input input(data, size);
  const uint8_t config = input.Byte();
  const uint8_t hold = input.Byte();
  Run run(ConfigFrom(config, hold), Clock::time_point{} + std::chrono::hours(1));
  std::string host;
  while (!input.Empty()) {
    const uint8_t byte = input.Byte();
    if (byte != 0xFF) {
      host += static_cast<char>(byte);
      continue;
    }
    run.Host(host);
    host.clear();
    run.Step(input.Byte(), input);
  }
  run.Host(host);
  run.Pass(std::chrono::seconds(1));
  return 0;
}
