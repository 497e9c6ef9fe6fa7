#include "support/fake_line.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "support/test_env.h"

namespace zor::test {

bool FakeDevice::Fails(Op op) {
  const unsigned n = ++calls[op];
  if (failing.count(op) != 0) return true;
  auto it = fail_at.find(op);
  return it != fail_at.end() && it->second == n;
}

std::string FakeDevice::Pending() const {
  std::string all;
  for (const std::string& chunk : chunks) all += chunk;
  return all;
}

bool FakeLine::GetState() { return !device_->Fails(Op::GetState); }
bool FakeLine::SetState() { return !device_->Fails(Op::SetState); }

bool FakeLine::SetTimeouts(Timeouts set) {
  if (device_->Fails(Op::SetTimeouts)) return false;
  device_->timeouts = set;
  device_->log.push_back(set == Timeouts::Normal ? "timeouts normal" : "timeouts poll");
  return true;
}

bool FakeLine::Purge() {
  if (device_->Fails(Op::Purge)) return false;
  device_->chunks.clear();
  device_->log.push_back("purge");
  return true;
}

namespace {

// Moves up to count bytes of the first chunk to data; the rest of the chunk stays queued.
uint32_t TakeFromChunk(std::deque<std::string>& chunks, char* data, uint32_t count) {
  std::string& chunk = chunks.front();
  const auto n = static_cast<uint32_t>(std::min<size_t>(count, chunk.size()));
  std::memcpy(data, chunk.data(), n);
  chunk.erase(0, n);
  if (chunk.empty()) chunks.pop_front();
  return n;
}

}  // namespace

bool FakeLine::Read(char* data, uint32_t count, uint32_t& received) {
  return ReadBytes(data, count, received, false);
}

bool FakeLine::ReadToTerminator(char* data, uint32_t count, uint32_t& received) {
  return ReadBytes(data, count, received, true);
}

bool FakeLine::ReadBytes(char* data, uint32_t count, uint32_t& received, bool to_terminator) {
  received = 0;
  if (device_->Fails(Op::Read)) return false;
  auto& chunks = device_->chunks;
  if (device_->timeouts == Timeouts::Poll) {
    while (received < count && !chunks.empty()) {
      received += TakeFromChunk(chunks, data + received, count - received);
    }
    return true;
  }
  if (!chunks.empty()) received = TakeFromChunk(chunks, data, count);
  const bool ended = to_terminator && std::memchr(data, '\r', received) != nullptr;
  if (received < count && !ended) {
    if (device_->real_time) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    AdvanceVirtualTime(10);
  }
  return true;
}

bool FakeLine::Write(const char* data, uint32_t count, uint32_t& written) {
  written = 0;
  if (device_->Fails(Op::Write)) return false;
  written = device_->short_write.value_or(count);
  device_->written.append(data, count);
  if (device_->on_write) device_->on_write(*device_, std::string_view(data, count));
  return true;
}

uint32_t FakeLine::ClearErrors() {
  ++device_->calls[Op::ClearErrors];
  if (device_->line_errors.empty()) return 0;
  const uint32_t word = device_->line_errors.front();
  device_->line_errors.pop_front();
  return word;
}

bool FakeLine::EscapeFunction(Escape function) {
  if (device_->Fails(Op::Escape) || device_->failing_escapes.count(function) != 0) return false;
  switch (function) {
    case Escape::SetRts: device_->rts = true; device_->log.push_back("RTS on"); break;
    case Escape::ClrRts: device_->rts = false; device_->log.push_back("RTS off"); break;
    case Escape::SetDtr: device_->dtr = true; device_->log.push_back("DTR on"); break;
    case Escape::ClrDtr: device_->dtr = false; device_->log.push_back("DTR off"); break;
  }
  return true;
}

bool FakeLine::ModemStatus(uint32_t& status) {
  if (device_->Fails(Op::ModemStatus)) return false;
  status = device_->Modem();
  return true;
}

bool FakeLine::WaitEvent(uint32_t& mask) {
  if (device_->Fails(Op::WaitEvent)) return false;
  mask = device_->wait_event_mask;
  return true;
}

bool FakeLine::Close() {
  device_->open = false;
  device_->log.push_back("close");
  return !device_->Fails(Op::Close);
}

FakeLineGuard::FakeLineGuard(std::shared_ptr<FakeDevice> device) {
  SetLineOpener([device](const char* name) -> std::unique_ptr<Line> {
    device->opened_names.emplace_back(name);
    if (device->Fails(Op::Open)) return nullptr;
    device->open = true;
    return std::make_unique<FakeLine>(device);
  });
}

FakeLineGuard::~FakeLineGuard() { SetLineOpener(nullptr); }

void FollowRts(FakeDevice& device) {
  device.modem_fn = [](FakeDevice& d) {
    return MS_DSR_ON | MS_RLSD_ON | (d.rts ? MS_CTS_ON : 0u);
  };
}

}  // namespace zor::test

namespace zor::test {

void AnswerCommands(FakeDevice& device, std::vector<std::string> replies) {
  auto queue = std::make_shared<std::deque<std::string>>(replies.begin(), replies.end());
  device.on_write = [queue](FakeDevice& d, std::string_view bytes) {
    for (char c : bytes) {
      if (c != '\r' || queue->empty()) continue;
      d.Reply(queue->front());
      queue->pop_front();
    }
  };
}

}  // namespace zor::test
