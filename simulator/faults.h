// Faults that the simulated device produces on purpose, one reply at a time.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

namespace zorsim {

// What happens to a faulty reply (the command itself is always carried out):
enum class FaultKind {
  Silent,        // no reply at all
  WrongEcho,     // the echo is the letter in the other case ('V' becomes 'v')
  Short,         // the last data byte is missing (a reply without data loses its terminator)
  NoTerminator,  // the terminating carriage return is missing
  Garbage,       // every data byte is replaced by a letter that is no hex digit (G..Z);
                 // a reply without data gets one such letter
  Surplus,       // an extra '0' before the terminator
  ParityError,   // the reply is intact, but the line reports a parity error (TakeParityError)
  HoldCts,       // the reply comes, but CTS stays inactive for DeviceConfig::fault_hold after it
  DropDsr,       // the reply comes, then DSR and DCD are inactive for DeviceConfig::fault_hold
  Disconnect,    // no reply; the transport is asked to close the connection (TakeDisconnect)
};

// Names for command lines and control input: "silent", "wrong-echo", "short", "no-terminator",
// "garbage", "surplus", "parity", "hold-cts", "drop-dsr", "disconnect".
std::string_view FaultKindName(FaultKind kind);
std::optional<FaultKind> ParseFaultKind(std::string_view name);

// Changes a well-formed reply (echo, data, carriage return) as `kind` says. Silent and Disconnect
// give the empty string; ParityError, HoldCts and DropDsr leave the bytes as they are.
std::string Corrupt(FaultKind kind, std::string reply);

// The faults waiting for their replies, in the order they were injected.
class FaultPlan {
 public:
  // The next `count` replies to `letter` (to any command when `letter` is 0) get the fault.
  void Inject(FaultKind kind, unsigned count, char letter);
  // The fault for a reply to `letter`: the earliest injected one that matches, used up by one.
  std::optional<FaultKind> Take(char letter);
  void Clear() { pending_.clear(); }
  bool Empty() const { return pending_.empty(); }

 private:
  struct Entry {
    FaultKind kind;
    unsigned remaining;
    char letter;
  };
  std::deque<Entry> pending_;
};

}  // namespace zorsim
