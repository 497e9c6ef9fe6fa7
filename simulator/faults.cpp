#include "faults.h"

#include <array>
#include <utility>

namespace zorsim {
namespace {

constexpr std::array<std::pair<FaultKind, std::string_view>, 10> kNames = {{
    {FaultKind::Silent, "silent"},
    {FaultKind::WrongEcho, "wrong-echo"},
    {FaultKind::Short, "short"},
    {FaultKind::NoTerminator, "no-terminator"},
    {FaultKind::Garbage, "garbage"},
    {FaultKind::Surplus, "surplus"},
    {FaultKind::ParityError, "parity"},
    {FaultKind::HoldCts, "hold-cts"},
    {FaultKind::DropDsr, "drop-dsr"},
    {FaultKind::Disconnect, "disconnect"},
}};

constexpr char kTerminator = '\r';

char OtherCase(char c) {
  if (c >= 'A' && c <= 'Z') return static_cast<char>(c - 'A' + 'a');
  if (c >= 'a' && c <= 'z') return static_cast<char>(c - 'a' + 'A');
  return static_cast<char>(c ^ 0x40);  // any other echo still differs
}

// A letter G..Z, which no hex reader accepts.
char GarbageFor(char c) { return static_cast<char>('G' + static_cast<unsigned char>(c) % 20U); }

void Garble(std::string& reply) {
  const std::size_t end = reply.size() - 1;  // the terminator
  if (end <= 1) {
    reply.insert(end, 1, 'G');
    return;
  }
  for (std::size_t i = 1; i < end; ++i) reply[i] = GarbageFor(reply[i]);
}

}  // namespace

std::string_view FaultKindName(FaultKind kind) {
  for (const auto& [k, name] : kNames) {
    if (k == kind) return name;
  }
  return "unknown";
}

std::optional<FaultKind> ParseFaultKind(std::string_view name) {
  for (const auto& [kind, n] : kNames) {
    if (n == name) return kind;
  }
  return std::nullopt;
}

std::string Corrupt(FaultKind kind, std::string reply) {
  if (reply.size() < 2 || reply.back() != kTerminator) return reply;  // not a reply: leave it
  switch (kind) {
    case FaultKind::Silent:
    case FaultKind::Disconnect: return {};
    case FaultKind::WrongEcho: reply[0] = OtherCase(reply[0]); break;
    case FaultKind::Short: reply.erase(reply.size() > 2 ? reply.size() - 2 : reply.size() - 1, 1); break;
    case FaultKind::NoTerminator: reply.pop_back(); break;
    case FaultKind::Garbage: Garble(reply); break;
    case FaultKind::Surplus: reply.insert(reply.size() - 1, 1, '0'); break;
    case FaultKind::ParityError:
    case FaultKind::HoldCts:
    case FaultKind::DropDsr: break;
  }
  return reply;
}

void FaultPlan::Inject(FaultKind kind, unsigned count, char letter) {
  if (count > 0) pending_.push_back({kind, count, letter});
}

std::optional<FaultKind> FaultPlan::Take(char letter) {
  for (auto it = pending_.begin(); it != pending_.end(); ++it) {
    if (it->letter != 0 && it->letter != letter) continue;
    const FaultKind kind = it->kind;
    if (--it->remaining == 0) pending_.erase(it);
    return kind;
  }
  return std::nullopt;
}

}  // namespace zorsim
