// The reply path of every exported device function: arbitrary device bytes, modem lines, line
// errors and failing platform calls through the scripted line, with the slot's debug file open.
//
// The input is up to four calls, each a record:
//   function  which exported function (modulo their number)
//   argument  its channel, row, code or value
//   lines     bits 0-3: CTS, DSR, DCD, RING active; bit 4: CTS follows RTS (the purge handshake);
//             bits 5-7: n > 0 cuts the reply into bursts of 2^(n-1) bytes, 0 sends it in one
//   failure   low nibble 1-11: that platform call fails (its n-th call for a high nibble n, every
//             call for 0); 12: the line reports the errors of the high nibble's bits
//   length    2 bytes, little-endian, then that many bytes of the device's reply
// Bytes a call leaves unread meet the next call, as on the wire.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string_view>
#include <vector>

#include "COM-ZOR4.h"
#include "fuzz_input.h"
#include "sleep.h"
#include "slots.h"
#include "support/fake_line.h"

namespace {

using zor::test::FakeDevice;
using zor::test::Op;

constexpr uint16_t kPort = 7;
constexpr int kMaxCalls = 4;
constexpr int kFunctions = 24;

// The waits of the library take no time here; only their number is bounded.
void NoSleep(uint32_t) {}

double VoltageFrom(uint8_t argument) {
  if (argument == 0x7F) return std::numeric_limits<double>::quiet_NaN();
  if (argument == 0x80) return 1e12;
  return static_cast<int8_t>(argument) * 25.75;
}

// Out-arguments at exactly the sizes the interface promises to fill, so a write beyond shows.
template <class T>
std::vector<T> Out(size_t count) {
  return std::vector<T>(count);
}

int32_t CallFunction(uint8_t which, uint8_t argument) {
  const uint16_t channel = argument % 8;  // 5 to 7 are refused before anything is sent
  auto i = Out<int32_t>(1);
  auto d = Out<double>(6);
  switch (which % kFunctions) {
    case 0: return COM_ZOR4_Device_Purge(kPort, i.data());
    case 1: return COM_ZOR4_Buffer_State(kPort, i.data());
    case 2: return COM_ZOR4_Get_OutputState(kPort, channel, i.data());
    case 3: i[0] = argument & 0x08; return COM_ZOR4_Set_OutputState(kPort, channel, i.data());
    case 4: return COM_ZOR4_Get_OutputVoltage(kPort, channel, d.data());
    case 5: d[0] = VoltageFrom(argument); return COM_ZOR4_Set_OutputVoltage(kPort, argument % 6, d.data());
    case 6: return COM_ZOR4_Get_OutputMonitor(kPort, channel, d.data());
    case 7: return COM_ZOR4_Get_HousekeepingData(kPort, &d[0], &d[1], &d[2], &d[3]);
    case 8: return COM_ZOR4_Get_HVSupplyData(kPort, &d[0], &d[1], &d[2]);
    case 9: return COM_ZOR4_Get_InterlockState(kPort, i.data());
    case 10: return COM_ZOR4_Get_CurrentMonitor(kPort, d.data());
    case 11: return COM_ZOR4_SimulateKeypad(kPort, argument);
    case 12: return COM_ZOR4_SimulateEncoderButton(kPort);
    case 13: return COM_ZOR4_SimulateEncoder(kPort, argument % 20);
    case 14: {
      auto display = Out<uint8_t>(1024);
      return COM_ZOR4_ReadDisplay(kPort, display.data());
    }
    case 15: {
      auto row = Out<uint8_t>(128);
      return COM_ZOR4_ReadDisplayRow(kPort, argument % 10, row.data());
    }
    case 16: {
      auto channels = Out<uint8_t>(1);
      return COM_ZOR4_GetHardwareCapability(kPort, channels.data(), &d[0], &d[1], &d[2], i.data(), &d[3]);
    }
    case 17: {
      auto seconds = Out<uint32_t>(1);
      auto ms = Out<uint16_t>(1);
      return COM_ZOR4_GetUptime(kPort, seconds.data(), ms.data());
    }
    case 18: {
      auto version = Out<uint16_t>(1);
      return COM_ZOR4_FW_Ver(kPort, version.data());
    }
    case 19: {
      auto date = Out<char>(12);
      return COM_ZOR4_FW_Date(kPort, date.data());
    }
    case 20: {
      auto id = Out<char>(8192);
      return COM_ZOR4_Prod_ID(kPort, id.data());
    }
    case 21: {
      const uint32_t size = argument * 33u;
      auto id = Out<char>(size);
      return COM_ZOR4_Prod_ID_Sized(kPort, size > 0 ? id.data() : nullptr, size);
    }
    case 22: return COM_ZOR4_Prod_No(kPort, i.data());
    default: return COM_ZOR4_Purge(kPort);
  }
}

// Every code a device function may give has its text.
bool Documented(int32_t code) {
  return code == 0 || (code <= -2 && code >= -15) || code == -50 || code == -51 ||
         (code <= -100 && code >= -102);
}

void SetLines(FakeDevice& device, uint8_t lines) {
  uint32_t modem = 0;
  if (lines & 0x01) modem |= zor::MS_CTS_ON;
  if (lines & 0x02) modem |= zor::MS_DSR_ON;
  if (lines & 0x04) modem |= zor::MS_RLSD_ON;
  if (lines & 0x08) modem |= zor::MS_RING_ON;
  const bool follows_rts = (lines & 0x10) != 0;
  device.modem_fn = [modem, follows_rts](FakeDevice& d) {
    if (!follows_rts) return modem;
    return (modem & ~zor::MS_CTS_ON) | (d.rts ? zor::MS_CTS_ON : 0u);
  };
}

void SetFailure(FakeDevice& device, uint8_t failure) {
  device.failing.clear();
  device.fail_at.clear();
  device.calls.clear();
  const unsigned kind = failure & 0x0F, nth = failure >> 4;
  if (kind >= 1 && kind <= 11) {
    const auto op = static_cast<Op>(kind);  // GetState to Close; opening is not among them
    if (nth == 0) {
      device.failing.insert(op);
    } else {
      device.fail_at[op] = nth;
    }
  } else if (kind == 12) {
    const uint32_t words[] = {zor::CE_RXPARITY, zor::CE_FRAME, zor::CE_OVERRUN, zor::CE_BREAK};
    uint32_t errors = 0;
    for (unsigned bit = 0; bit < 4; ++bit) {
      if (nth & (1u << bit)) errors |= words[bit];
    }
    device.line_errors.assign(3, errors);
  }
}

void QueueReply(FakeDevice& device, std::string_view reply, uint8_t lines) {
  const unsigned shift = lines >> 5;
  const size_t burst = shift == 0 ? reply.size() : size_t{1} << (shift - 1);
  for (size_t at = 0; at < reply.size(); at += burst) device.Reply(reply.substr(at, burst));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zor::SetSleepHook(NoSleep);
  zor::LoadSlots();
  auto device = std::make_shared<FakeDevice>();
  {
    zor::test::FakeLineGuard guard(device);
    zor::test::FollowRts(*device);
    if (COM_ZOR4_OpenByName(kPort, "fuzz") != 0) std::abort();
    (void)COM_ZOR4_OpenDebugFile(kPort, "/dev/null");

    zorfuzz::Input input(data, size);
    for (int call = 0; call < kMaxCalls && !input.Empty(); ++call) {
      const uint8_t which = input.Byte(), argument = input.Byte(), lines = input.Byte();
      const uint8_t failure = input.Byte();
      const std::string_view reply = input.Bytes(input.Word());
      SetLines(*device, lines);
      SetFailure(*device, failure);
      QueueReply(*device, reply, lines);
      const int32_t code = CallFunction(which, argument);
      // A failure is a documented code, and it is the one the slot keeps.
      if (!Documented(code) || (code != 0 && COM_ZOR4_State(kPort) != code)) std::abort();
    }
    (void)COM_ZOR4_Close(kPort);
    zor::UnloadSlots();
  }
  zor::SetSleepHook(nullptr);
  return 0;
}
