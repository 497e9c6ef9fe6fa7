// A scripted platform line: plays the device's bytes and modem lines, records every byte written
// and can make any single platform call fail on demand.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "serial/line.h"

namespace zor::test {

enum class Op {
  Open, GetState, SetState, SetTimeouts, Purge, Read, Write, ClearErrors, Escape, ModemStatus,
  WaitEvent, Close,
};

// The device side, shared between the test and the line that the port owns.
struct FakeDevice {
  // Bytes that arrive at the port: each chunk is one burst, delivered by one read (in part when
  // the read asks for fewer bytes). A read with the normal time-outs that gets fewer bytes than
  // asked waits out its 10 ms, unless it reads to a terminator and one came.
  std::deque<std::string> chunks;
  // Called with every block of bytes the host writes; may queue replies.
  std::function<void(FakeDevice&, std::string_view)> on_write;
  // The modem status word; modem_fn, when set, computes it on each query instead.
  uint32_t modem = MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON;
  std::function<uint32_t(FakeDevice&)> modem_fn;
  // Line-error words handed out by successive ClearErrors calls (0 once empty).
  std::deque<uint32_t> line_errors;
  // Calls that fail: always, or only the n-th call (1-based) of that operation.
  std::set<Op> failing;
  std::map<Op, unsigned> fail_at;
  std::set<Escape> failing_escapes;
  // A write reports this many bytes taken instead of all (when set).
  std::optional<uint32_t> short_write;
  uint32_t wait_event_mask = EV_TXEMPTY;
  // With real_time, that wait is a real 10 ms sleep, as on a serial port; otherwise virtual time.
  bool real_time = false;

  // What happened.
  std::string written;
  std::vector<std::string> opened_names;
  std::vector<std::string> log;  // "RTS on", "DTR off", "purge", "timeouts normal", ...
  std::map<Op, unsigned> calls;
  bool rts = false, dtr = false;
  Timeouts timeouts = Timeouts::Normal;
  bool open = false;

  void Reply(std::string_view bytes) { chunks.emplace_back(bytes); }
  bool Fails(Op op);
  uint32_t Modem() { return modem_fn ? modem_fn(*this) : modem; }
  std::string Pending() const;  // all bytes still waiting
};

class FakeLine final : public Line {
public:
  explicit FakeLine(std::shared_ptr<FakeDevice> device) : device_(std::move(device)) {}
  bool GetState() override;
  bool SetState() override;
  bool SetTimeouts(Timeouts set) override;
  bool Purge() override;
  bool Read(char* data, uint32_t count, uint32_t& received) override;
  bool ReadToTerminator(char* data, uint32_t count, uint32_t& received) override;
  bool Write(const char* data, uint32_t count, uint32_t& written) override;
  uint32_t ClearErrors() override;
  bool EscapeFunction(Escape function) override;
  bool ModemStatus(uint32_t& status) override;
  bool WaitEvent(uint32_t& mask) override;
  bool Close() override;

private:
  bool ReadBytes(char* data, uint32_t count, uint32_t& received, bool to_terminator);

  std::shared_ptr<FakeDevice> device_;
};

// Puts the device behind every port opened from now on; the returned guard restores the default.
struct FakeLineGuard {
  explicit FakeLineGuard(std::shared_ptr<FakeDevice> device);
  ~FakeLineGuard();
  FakeLineGuard(const FakeLineGuard&) = delete;
  FakeLineGuard& operator=(const FakeLineGuard&) = delete;
};

// A device that answers the purge handshake: CTS follows the host's RTS.
void FollowRts(FakeDevice& device);

}  // namespace zor::test

namespace zor::test {

// Answers each command line (up to its carriage return) with the next of the replies, one burst
// each; a command beyond the last reply stays unanswered.
void AnswerCommands(FakeDevice& device, std::vector<std::string> replies);

}  // namespace zor::test
