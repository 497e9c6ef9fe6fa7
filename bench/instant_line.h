// A zero-latency line inside the process: the simulated device's reply to each command line,
// recorded the first time the line is seen and handed back at once from then on. DSR and DCD are
// always up, CTS follows RTS as the purge handshake wants. What a benchmark over it measures is the library alone.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "device_model.h"
#include "serial/line.h"

namespace zorbench {

class ReplyCache {
public:
  ReplyCache();
  const std::string& ReplyTo(const std::string& command_line);

private:
  zorsim::DeviceModel::Clock::time_point now_;
  zorsim::DeviceModel model_;
  std::map<std::string, std::string, std::less<>> replies_;
};

class InstantLine final : public zor::Line {
public:
  explicit InstantLine(std::shared_ptr<ReplyCache> cache) : cache_(std::move(cache)) {}

  bool GetState() override { return true; }
  bool SetState() override { return true; }
  bool SetTimeouts(zor::Timeouts) override { return true; }
  bool Purge() override;
  bool Read(char* data, uint32_t count, uint32_t& received) override;
  bool ReadToTerminator(char* data, uint32_t count, uint32_t& received) override;
  bool Write(const char* data, uint32_t count, uint32_t& written) override;
  uint32_t ClearErrors() override { return 0; }
  bool EscapeFunction(zor::Escape function) override;
  bool ModemStatus(uint32_t& status) override;
  bool WaitEvent(uint32_t& mask) override;
  bool Close() override { return true; }

private:
  std::shared_ptr<ReplyCache> cache_;
  std::string command_;  // written since the last terminator
  std::string queue_;    // reply bytes, read from head_ on
  size_t head_ = 0;
  bool rts_ = false;
};

// Puts an InstantLine behind every port opened from now on.
void UseInstantLines();

}  // namespace zorbench
