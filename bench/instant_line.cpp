#include "instant_line.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace zorbench {

ReplyCache::ReplyCache() : now_(zorsim::DeviceModel::Clock::now()), model_({}, now_) {
  model_.SetHostLines(true, true, now_);
}

const std::string& ReplyCache::ReplyTo(const std::string& command_line) {
  if (auto it = replies_.find(command_line); it != replies_.end()) return it->second;
  // Far enough on in the model's time that the reply is complete.
  model_.Receive(command_line, now_);
  now_ += std::chrono::seconds(1);
  model_.Advance(now_);
  return replies_[command_line] = model_.TakeOutput(now_);
}

bool InstantLine::Purge() {
  command_.clear();
  queue_.clear();
  head_ = 0;
  return true;
}

bool InstantLine::Read(char* data, uint32_t count, uint32_t& received) {
  received = static_cast<uint32_t>(std::min<size_t>(count, queue_.size() - head_));
  std::memcpy(data, queue_.data() + head_, received);
  head_ += received;
  return true;
}

// Everything that has arrived is the whole reply, so a read to the terminator is a plain read.
bool InstantLine::ReadToTerminator(char* data, uint32_t count, uint32_t& received) {
  return Read(data, count, received);
}

bool InstantLine::Write(const char* data, uint32_t count, uint32_t& written) {
  for (uint32_t i = 0; i < count; ++i) {
    command_.push_back(data[i]);
    if (data[i] != '\r') continue;
    const std::string& reply = cache_->ReplyTo(command_);
    if (head_ == queue_.size()) {
      queue_.assign(reply);
      head_ = 0;
    } else {
      queue_.append(reply);
    }
    command_.clear();
  }
  written = count;
  return true;
}

bool InstantLine::EscapeFunction(zor::Escape function) {
  if (function == zor::Escape::SetRts) rts_ = true;
  if (function == zor::Escape::ClrRts) rts_ = false;
  return true;
}

bool InstantLine::ModemStatus(uint32_t& status) {
  status = zor::MS_DSR_ON | zor::MS_RLSD_ON | (rts_ ? zor::MS_CTS_ON : 0u);
  return true;
}

bool InstantLine::WaitEvent(uint32_t& mask) {
  mask = zor::EV_TXEMPTY;
  return true;
}

void UseInstantLines() {
  auto cache = std::make_shared<ReplyCache>();
  zor::SetLineOpener([cache](const char*) -> std::unique_ptr<zor::Line> {
    return std::make_unique<InstantLine>(cache);
  });
}

}  // namespace zorbench
