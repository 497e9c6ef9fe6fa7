// The simulated device in virtual time: replies on the wire, lines, outputs, faults, front panel.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "device_model.h"

namespace {

using namespace std::chrono_literals;
using zorsim::DeviceConfig;
using zorsim::DeviceModel;
using zorsim::FaultKind;
using Clock = DeviceModel::Clock;

const Clock::time_point kStart = Clock::time_point{} + 1000h;

DeviceConfig Exact() {
  DeviceConfig config;
  config.noise = 0.0;
  return config;
}

// The capabilities of the worked example: 5 channels, 85.0 degC, -3000..3000 V, 0.1 V, sensor.
DeviceConfig FiveChannelsWithSensor() {
  DeviceConfig config = Exact();
  config.channels = 5;
  config.current_sensor = true;
  return config;
}

// A connected device and its virtual clock.
struct Device {
  explicit Device(DeviceConfig config = Exact()) : model(config, now) { model.SetHostLines(true, true, now); }

  // One command and the bytes due when its busy time is over.
  std::string Exchange(const std::string& command) {
    model.Receive(command + "\r", now);
    now += model.Config().busy_time;
    return model.TakeOutput(now);
  }
  void Wait(Clock::duration d) {
    now += d;
    model.Advance(now);
  }
  zorsim::ModemLines Lines() const { return model.Lines(now); }

  Clock::time_point now = kStart;
  DeviceModel model;
};

int64_t SignedHex(const std::string& hex, int bits) {
  const auto value = static_cast<int64_t>(std::stoull(hex, nullptr, 16));
  return value >= (int64_t{1} << (bits - 1)) ? value - (int64_t{1} << bits) : value;
}

// The measured output in V from an "O" reply.
double Monitor(const std::string& reply) {
  EXPECT_EQ(reply.size(), 9u) << reply;
  return static_cast<double>(SignedHex(reply.substr(2, 6), 24)) * 0.001;
}

std::string HexOf(const uint8_t* bytes, std::size_t count) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0xF];
  }
  return text;
}

struct ReplyCase {
  const char* command;
  const char* reply;
};

// ---- replies ----

TEST(SimModelReplies, EachCommandAnswersInItsLayout) {
  const std::vector<ReplyCase> cases = {
      {"W", "W58BE7FFD23940002DC6C00064Y\r"},
      {"V", "V0102\r"},
      {"D", "DDec 11 2026\r"},
      {"P", "PZORLINE HV-4 simulated\r"},
      {"N", "N00012345\r"},
      {"I", "IY\r"},
      {"Z", "ZY\r"},
      {"z", "zY\r"},
      {"B2", "B2N\r"},
      {"B4Y", "B4Y\r"},
      {"o3", "o30000\r"},
      {"o22710", "o22710\r"},  // 1000.0 V
      {"o0FFF3", "o0FFF3\r"},  // -1.3 V
      {"o2abcd", "o2ABCD\r"},  // lower-case digits accepted, -2155.5 V
      {"o47FFF", "o47530\r"},  // limited to 3000.0 V
      {"o48000", "o48AD0\r"},  // limited to -3000.0 V
      {"O1", "O1000000\r"},
      {"C", "C00000000\r"},
      {"K04", "K04\r"},
      {"K1f", "K1F\r"},
      {"E", "E\r"},
      {"EA", "EA\r"},
      {"E0", "E0\r"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    Device device(FiveChannelsWithSensor());
    EXPECT_EQ(device.Exchange(c.command), c.reply);
  }
}

TEST(SimModelReplies, UnknownLettersAndMalformedDataGetTheEchoAlone) {
  const std::vector<ReplyCase> cases = {
      {"Q", "Q\r"},      {"V1", "V\r"},   {"B", "B\r"},     {"B0X", "B\r"},  {"B0y", "B\r"},  {"BG", "B\r"},
      {"o0123", "o\r"},  {"o012345", "o\r"}, {"o0G000", "o\r"}, {"O12", "O\r"}, {"K4", "K\r"},  {"K123", "K\r"},
      {"EG", "E\r"},     {"E12", "E\r"},  {"l", "l\r"},     {"l12", "l\r"},  {"L0", "L\r"},   {"W0", "W\r"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    Device device;
    EXPECT_EQ(device.Exchange(c.command), c.reply);
    EXPECT_FALSE(device.model.Channel(0).on);
    EXPECT_EQ(device.model.Channel(0).set_voltage, 0.0);
  }
}

TEST(SimModelReplies, MissingChannelsRowsAndSensorGetTheirDigitAlone) {
  DeviceConfig config = Exact();
  config.channels = 3;
  const std::vector<ReplyCase> cases = {
      {"B3", "B3\r"}, {"B3Y", "B3\r"}, {"o3", "o3\r"}, {"o32710", "o3\r"}, {"O4", "O4\r"},
      {"BF", "BF\r"}, {"Of", "OF\r"},  {"l8", "l8\r"}, {"C", "C\r"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    Device device(config);
    EXPECT_EQ(device.Exchange(c.command), c.reply);
  }
  Device none([] {
    DeviceConfig c = Exact();
    c.channels = 0;
    return c;
  }());
  EXPECT_EQ(none.Exchange("B0"), "B0\r");
  EXPECT_EQ(none.Exchange("W").substr(0, 2), "W0");
}

TEST(SimModelReplies, HousekeepingAndSupplyReadNominalValues) {
  const auto field = [](const std::string& reply, std::size_t offset, std::size_t width) {
    return static_cast<double>(std::stoul(reply.substr(offset, width), nullptr, 16));
  };
  Device device;
  const std::string h = device.Exchange("H");
  ASSERT_EQ(h.size(), 18u) << h;
  EXPECT_DOUBLE_EQ(field(h, 1, 4) * 0.001, 24.0);
  EXPECT_DOUBLE_EQ(field(h, 5, 4) * 0.001, 5.0);
  EXPECT_DOUBLE_EQ(field(h, 9, 4) * 0.001, 3.3);
  EXPECT_NEAR((field(h, 13, 4) - 27315) * 0.01, 42.0, 1e-9);

  const std::string s = device.Exchange("S");
  ASSERT_EQ(s.size(), 16u) << s;
  EXPECT_DOUBLE_EQ(field(s, 1, 5) * 0.001, 240.0);
  EXPECT_DOUBLE_EQ(field(s, 6, 5) * 0.001, 240.0);
  EXPECT_NEAR((field(s, 11, 4) - 27315) * 0.01, 31.0, 1e-9);
}

TEST(SimModelReplies, UptimeCountsSecondsAndSixtyFourthsFromPowerOn) {
  Device device;
  device.now = kStart + 123456s + 500ms;
  EXPECT_EQ(device.Exchange("U"), "U0001E24080\r");
  device.now = kStart + 123456s + 999ms;
  EXPECT_EQ(device.Exchange("U"), "U0001E240FF\r");

  device.model.SetPower(false, device.now);
  device.model.SetPower(true, device.now + 1s);
  device.now += 3s + 250ms;
  EXPECT_EQ(device.Exchange("U"), "U0000000240\r");
}

TEST(SimModelReplies, ProductNumberAndVersionComeFromTheConfiguration) {
  DeviceConfig config = Exact();
  config.firmware_version = 0x0A0B;
  config.product_number = 0xDEADBEEF;
  config.product_id = "";
  Device device(config);
  EXPECT_EQ(device.Exchange("V"), "V0A0B\r");
  EXPECT_EQ(device.Exchange("N"), "NDEADBEEF\r");
  EXPECT_EQ(device.Exchange("P"), "P\r");
}

TEST(SimModelReplies, ConfigurationsThatCannotBeReportedAreRefused) {
  std::vector<DeviceConfig> bad(8, Exact());
  bad[0].channels = 6;
  bad[1].voltage_min = 10.0;
  bad[1].voltage_max = -10.0;
  bad[2].voltage_max = 3300.0;
  bad[3].precision = 0.0;
  bad[4].firmware_date = "Dec 1 2026";
  bad[5].product_id = "two\rlines";
  bad[6].noise = -1.0;
  bad[7].shutdown_temperature = 400.0;
  for (std::size_t i = 0; i < bad.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_FALSE(zorsim::ConfigProblem(bad[i]).empty());
    EXPECT_THROW(DeviceModel(bad[i], kStart).Advance(kStart), std::invalid_argument);
  }
  EXPECT_EQ(zorsim::ConfigProblem(Exact()), "");
}

// ---- input buffer ----

TEST(SimModelInput, BufferStateAndPurgeSeeTheQueuedCommands) {
  Device device;
  device.model.Receive("Z\rV\r", device.now);
  device.now += 1ms;
  EXPECT_EQ(device.model.TakeOutput(device.now), "ZN\rV0102\r");

  device.model.Receive("z\rV\rN\r", device.now);
  device.now += 1ms;
  EXPECT_EQ(device.model.TakeOutput(device.now), "zY\r");
  EXPECT_EQ(device.Exchange("Z"), "ZY\r");
}

TEST(SimModelInput, LineFeedsAndEmptyLinesAreIgnored) {
  Device device;
  EXPECT_EQ(device.Exchange("\n\r\nV"), "V0102\r");
}

// ---- outputs ----

TEST(SimModelOutputs, SetValuesAreRoundedToTheGridAndLimited) {
  DeviceConfig config = Exact();
  config.voltage_min = -999.9;
  config.voltage_max = 2500.0;
  config.precision = 0.2;
  const std::vector<ReplyCase> cases = {
      {"o10003", "o10004\r"},  // 0.3 V: half a step, away from zero
      {"o1FFFD", "o1FFFC\r"},  // -0.3 V
      {"o1FFFF", "o1FFFE\r"},  // -0.1 V
      {"o10002", "o10002\r"},
      {"o10005", "o10006\r"},
      {"o17FFF", "o161A8\r"},  // 2500.0 V
      {"o18000", "o1D8F2\r"},  // -999.8 V: the lowest grid value inside the range
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    Device device(config);
    const std::string reply = device.Exchange(c.command);
    EXPECT_EQ(reply, c.reply);
    EXPECT_EQ(device.Exchange("o1"), reply);
    EXPECT_NEAR(device.model.Channel(1).set_voltage, static_cast<double>(SignedHex(reply.substr(2, 4), 16)) * 0.1, 1e-9);
  }
}

TEST(SimModelOutputs, MeasuredOutputFollowsAsFirstOrderResponse) {
  Device device;  // time constant 50 ms
  ASSERT_EQ(device.Exchange("B0Y"), "B0Y\r");
  const Clock::time_point set = device.now;
  ASSERT_EQ(device.Exchange("o02710"), "o02710\r");

  device.now = set + 50ms;
  EXPECT_NEAR(Monitor(device.Exchange("O0")), 1000.0 * (1 - std::exp(-1.0)), 0.0015);
  device.now = set + 250ms;
  EXPECT_NEAR(Monitor(device.Exchange("O0")), 1000.0 * (1 - std::exp(-5.0)), 0.0015);
  device.now = set + 2s;
  EXPECT_EQ(device.Exchange("O0"), "O00F4240\r");  // 1000.000 V
  EXPECT_EQ(device.Exchange("O1"), "O1000000\r");  // another channel stays at 0 V

  const Clock::time_point off = device.now;
  ASSERT_EQ(device.Exchange("B0N"), "B0N\r");
  device.now = off + 50ms;
  EXPECT_NEAR(Monitor(device.Exchange("O0")), 1000.0 * std::exp(-1.0), 0.0015);
}

TEST(SimModelOutputs, ZeroTimeConstantFollowsAtOnceAndNegativeValuesAreSigned) {
  DeviceConfig config = Exact();
  config.time_constant = 0ms;
  Device device(config);
  device.Exchange("o2FFF6");  // -1.0 V
  device.Exchange("B2Y");
  EXPECT_EQ(device.Exchange("O2"), "O2FFFC18\r");
}

TEST(SimModelOutputs, OpeningTheInterlockSwitchesOutputsOffAndKeepsThemOff) {
  Device device;
  device.Exchange("o0FC18");  // -100.0 V
  device.Exchange("B0Y");
  device.Wait(1s);
  EXPECT_NEAR(Monitor(device.Exchange("O0")), -100.0, 0.001);

  const Clock::time_point opened = device.now;
  device.model.SetInterlock(false, opened);
  EXPECT_EQ(device.Exchange("I"), "IN\r");
  EXPECT_EQ(device.Exchange("B0"), "B0N\r");
  EXPECT_EQ(device.Exchange("B0Y"), "B0N\r");
  device.now = opened + 50ms;
  EXPECT_NEAR(Monitor(device.Exchange("O0")), -100.0 * std::exp(-1.0), 0.002);

  device.model.SetInterlock(true);
  EXPECT_EQ(device.Exchange("B0"), "B0N\r");
  EXPECT_EQ(device.Exchange("B0Y"), "B0Y\r");
  EXPECT_EQ(device.Exchange("o0"), "o0FC18\r");
}

TEST(SimModelOutputs, CurrentSensorSeesTheOutputsThroughItsLoad) {
  DeviceConfig config = FiveChannelsWithSensor();
  config.time_constant = 0ms;
  Device device(config);
  device.Exchange("o02710");
  device.Exchange("B0Y");
  EXPECT_EQ(device.Exchange("C"), "C00989680\r");  // 1000 V over 1 GOhm: 1 uA = 10^7 x 0.1 pA
  device.Exchange("o0D8F0");                        // -1000.0 V
  EXPECT_EQ(device.Exchange("C"), "CFF676980\r");
}

TEST(SimModelOutputs, NoiseIsSmallAndRepeatsWithItsSeed) {
  DeviceConfig config;  // nominal noise
  config.noise_seed = 7;
  Device a(config), b(config);
  config.noise_seed = 8;
  Device c(config);
  std::set<std::string> distinct;
  bool seeds_differ = false;
  for (int i = 0; i < 20; ++i) {
    const std::string reply = a.Exchange("O0");
    EXPECT_EQ(b.Exchange("O0"), reply);
    seeds_differ = seeds_differ || c.Exchange("O0") != reply;
    distinct.insert(reply);
    EXPECT_LT(std::abs(Monitor(reply)), 0.2);  // 10 sigma
    const std::string h = a.Exchange("H");
    b.Exchange("H");
    c.Exchange("H");
    EXPECT_NEAR(static_cast<double>(std::stoul(h.substr(1, 4), nullptr, 16)) * 0.001, 24.0, 0.1);
  }
  EXPECT_GT(distinct.size(), 5u);
  EXPECT_TRUE(seeds_differ);
}

// ---- lines ----

TEST(SimModelLines, CtsIsInactiveWhileACommandIsProcessed) {
  DeviceConfig config = Exact();
  config.busy_time = 200us;
  Device device(config);
  const Clock::time_point t = device.now;
  device.model.Receive("V", t);
  EXPECT_TRUE(device.model.Lines(t).cts) << "a line without its terminator is no command yet";
  EXPECT_FALSE(device.model.NextEvent().has_value());

  device.model.Receive("\rN\r", t);
  EXPECT_FALSE(device.model.Lines(t).cts);
  EXPECT_TRUE(device.model.Lines(t).dsr);
  EXPECT_EQ(device.model.NextEvent(), t + 200us);
  EXPECT_FALSE(device.model.Lines(t + 199us).cts);
  EXPECT_EQ(device.model.TakeOutput(t + 199us), "");

  EXPECT_EQ(device.model.TakeOutput(t + 200us), "V0102\r");
  EXPECT_FALSE(device.model.Lines(t + 200us).cts) << "the second command starts at once";
  EXPECT_EQ(device.model.NextEvent(), t + 400us);
  EXPECT_EQ(device.model.TakeOutput(t + 399us), "");
  EXPECT_EQ(device.model.TakeOutput(t + 400us), "N00012345\r");
  EXPECT_TRUE(device.model.Lines(t + 400us).cts);
  EXPECT_FALSE(device.model.NextEvent().has_value());
}

TEST(SimModelLines, DsrAndDcdFollowDtrAndCtsAlsoRts) {
  struct Case {
    bool dtr, rts, dsr_dcd, cts;
  };
  const std::vector<Case> cases = {{false, false, false, false}, {false, true, false, false}, {true, false, true, false}, {true, true, true, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "DTR " << c.dtr << " RTS " << c.rts);
    Device device;
    device.model.SetHostLines(c.dtr, c.rts, device.now);
    const auto lines = device.Lines();
    EXPECT_EQ(lines.dsr, c.dsr_dcd);
    EXPECT_EQ(lines.dcd, c.dsr_dcd);
    EXPECT_EQ(lines.cts, c.cts);
    EXPECT_FALSE(lines.ri);
  }
}

TEST(SimModelLines, BytesAreIgnoredWithoutDtrOrPower) {
  Device device;
  device.model.SetHostLines(false, true, device.now);
  device.model.Receive("B0Y\r", device.now);
  device.model.SetHostLines(true, true, device.now);
  EXPECT_EQ(device.Exchange("B0"), "B0N\r");

  device.model.SetPower(false, device.now);
  EXPECT_FALSE(device.Lines().dsr);
  EXPECT_FALSE(device.Lines().cts);
  device.model.Receive("B0Y\r", device.now);
  device.Wait(1s);
  device.model.SetPower(true, device.now);
  EXPECT_TRUE(device.Lines().cts);
  EXPECT_EQ(device.model.TakeOutput(device.now), "");
  EXPECT_EQ(device.Exchange("B0"), "B0N\r");
}

TEST(SimModelLines, PurgeHandshakeWithRtsInactive) {
  Device device;
  const Clock::time_point t = device.now;
  device.model.SetHostLines(true, false, t);
  EXPECT_FALSE(device.model.Lines(t).cts);
  EXPECT_TRUE(device.model.Lines(t).dsr);

  device.model.Receive("B0Y\r", t);  // stale bytes on the line: not started while RTS is inactive
  EXPECT_EQ(device.model.TakeOutput(t + 1s), "");
  EXPECT_FALSE(device.model.NextEvent().has_value());
  device.model.Purge();
  device.model.SetHostLines(true, true, t + 1s);
  EXPECT_TRUE(device.model.Lines(t + 1s).cts);
  EXPECT_EQ(device.model.TakeOutput(t + 2s), "");
  device.now = t + 2s;
  EXPECT_EQ(device.Exchange("B0"), "B0N\r");
}

TEST(SimModelLines, CommandWaitingForRtsRunsWhenRtsReturns) {
  DeviceConfig config = Exact();
  config.busy_time = 200us;
  Device device(config);
  const Clock::time_point t = device.now;
  device.model.SetHostLines(true, false, t);
  device.model.Receive("V\r", t);
  device.model.SetHostLines(true, true, t + 10ms);
  EXPECT_FALSE(device.model.Lines(t + 10ms).cts);
  EXPECT_EQ(device.model.TakeOutput(t + 10ms + 200us), "V0102\r");
  EXPECT_TRUE(device.model.Lines(t + 10ms + 200us).cts);
}

// ---- faults ----

TEST(SimModelFaults, CorruptedRepliesOfOneLetter) {
  const struct {
    FaultKind kind;
    const char* reply;
  } cases[] = {
      {FaultKind::Silent, ""},          {FaultKind::WrongEcho, "v0102\r"}, {FaultKind::Short, "V010\r"},
      {FaultKind::NoTerminator, "V0102"}, {FaultKind::Surplus, "V01020\r"}, {FaultKind::ParityError, "V0102\r"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(zorsim::FaultKindName(c.kind));
    Device device;
    device.model.InjectFault(c.kind, 1, 'V');
    EXPECT_EQ(device.Exchange("N"), "N00012345\r") << "another letter is not affected";
    EXPECT_FALSE(device.model.TakeParityError());
    EXPECT_EQ(device.Exchange("V"), c.reply);
    EXPECT_EQ(device.model.TakeParityError(), c.kind == FaultKind::ParityError);
    EXPECT_FALSE(device.model.TakeParityError()) << "reported once";
    EXPECT_EQ(device.Exchange("V"), "V0102\r") << "one reply only";
  }
}

TEST(SimModelFaults, GarbageCarriesNoHexDigits) {
  for (const char* command : {"H", "W", "E", "B0"}) {
    SCOPED_TRACE(command);
    Device device;
    const std::string good = device.Exchange(command);
    device.model.InjectFault(FaultKind::Garbage, 1);
    const std::string bad = device.Exchange(command);
    ASSERT_GE(bad.size(), 3u) << bad;
    EXPECT_EQ(bad.front(), good.front());
    EXPECT_EQ(bad.back(), '\r');
    EXPECT_EQ(bad.size(), std::max<std::size_t>(good.size(), 3));
    EXPECT_EQ(bad.substr(1, bad.size() - 2).find_first_of("0123456789ABCDEFabcdef"), std::string::npos) << bad;
  }
}

TEST(SimModelFaults, CountAndAnyLetter) {
  Device device;
  device.model.InjectFault(FaultKind::WrongEcho, 2);
  EXPECT_EQ(device.Exchange("V"), "v0102\r");
  EXPECT_EQ(device.Exchange("N"), "n00012345\r");
  EXPECT_EQ(device.Exchange("V"), "V0102\r");

  device.model.InjectFault(FaultKind::Silent, 3, 'V');
  device.model.ClearFaults();
  EXPECT_EQ(device.Exchange("V"), "V0102\r");
}

TEST(SimModelFaults, ASilencedCommandIsStillCarriedOut) {
  Device device;
  device.model.InjectFault(FaultKind::Silent, 1, 'o');
  EXPECT_EQ(device.Exchange("o22710"), "");
  EXPECT_EQ(device.Exchange("o2"), "o22710\r");
}

TEST(SimModelFaults, HoldCtsAndDropDsrLastTheFaultHold) {
  for (const FaultKind kind : {FaultKind::HoldCts, FaultKind::DropDsr}) {
    SCOPED_TRACE(zorsim::FaultKindName(kind));
    Device device;  // fault hold 3 s
    device.model.InjectFault(kind, 1);
    EXPECT_EQ(device.Exchange("V"), "V0102\r");
    const Clock::time_point due = device.now;
    for (const Clock::time_point t : {due, due + 3s - 1us}) {
      EXPECT_FALSE(device.model.Lines(t).cts);
      EXPECT_EQ(device.model.Lines(t).dsr, kind == FaultKind::HoldCts);
      EXPECT_EQ(device.model.Lines(t).dcd, kind == FaultKind::HoldCts);
    }
    EXPECT_EQ(device.model.NextEvent(), due + 3s);
    device.now = due + 3s;
    EXPECT_TRUE(device.Lines().cts);
    EXPECT_TRUE(device.Lines().dsr);
    EXPECT_EQ(device.Exchange("V"), "V0102\r");
  }
}

TEST(SimModelFaults, DisconnectDropsTheReplyAndTheHostLines) {
  Device device;
  device.model.InjectFault(FaultKind::Disconnect, 1, 'V');
  device.model.Receive("V\rN\r", device.now);
  device.Wait(1ms);
  EXPECT_EQ(device.model.TakeOutput(device.now), "");
  EXPECT_TRUE(device.model.TakeDisconnect());
  EXPECT_FALSE(device.model.TakeDisconnect());
  EXPECT_FALSE(device.Lines().dsr);

  device.model.SetHostLines(true, true, device.now);  // the next connection
  EXPECT_EQ(device.Exchange("V"), "V0102\r");
}

TEST(SimModelFaults, KindNamesRoundTrip) {
  for (const FaultKind kind : {FaultKind::Silent, FaultKind::WrongEcho, FaultKind::Short, FaultKind::NoTerminator,
                               FaultKind::Garbage, FaultKind::Surplus, FaultKind::ParityError, FaultKind::HoldCts,
                               FaultKind::DropDsr, FaultKind::Disconnect}) {
    EXPECT_EQ(zorsim::ParseFaultKind(zorsim::FaultKindName(kind)), kind);
  }
  EXPECT_FALSE(zorsim::ParseFaultKind("loud").has_value());
}

// ---- display and front panel ----

std::vector<std::string> ScreenText(const DeviceModel& model) {
  std::vector<std::string> rows;
  for (int page = 0; page < zorsim::kScreenPages; ++page) rows.push_back(model.PanelScreen().TextOfPage(page));
  return rows;
}

// Pixel rows [top, top + lines) and columns [0, width) of the ASCII rendering.
std::string ArtSection(const zorsim::Screen& screen, int top, int lines, int width) {
  const std::string art = screen.AsciiArt();
  std::string section;
  for (int y = top; y < top + lines; ++y) section += art.substr(static_cast<std::size_t>(y * (zorsim::kScreenWidth + 1)), static_cast<std::size_t>(width)) + "\n";
  return section;
}

TEST(SimModelDisplay, StatusScreenShowsTitleChannelsAndCursor) {
  Device device;
  const std::vector<std::string> expected = {
      "ZORLINE 4CH   FW 1.02", ">1    +0.0V off", " 2    +0.0V off", " 3    +0.0V off", " 4    +0.0V off",
      "",                      "Interlock closed", "ENT:edit BTN:on/off",
  };
  EXPECT_EQ(ScreenText(device.model), expected);
  EXPECT_TRUE(device.model.PanelScreen().Pixel(127, 0)) << "the title bar spans the width";

  // The cursor and the digit of row 1 in pixels: upright, left to right, bit 0 on top.
  EXPECT_EQ(ArtSection(device.model.PanelScreen(), 8, 8, 12),
            ".#......#...\n"
            "..#....##...\n"
            "...#....#...\n"
            "....#...#...\n"
            "...#....#...\n"
            "..#.....#...\n"
            ".#.....###..\n"
            "............\n");
}

TEST(SimModelDisplay, KeypadSessionChangesStateAndScreen) {
  Device device;
  const std::vector<ReplyCase> session = {
      {"K02", "K02\r"},  // Down: channel 2
      {"K04", "K04\r"},  // Enter: edit its set value, step 1 V
      {"K10", "K10\r"},  // Up three times: +3.0 V
      {"K10", "K10\r"},
      {"K10", "K10\r"},
      {"K01", "K01\r"},  // Left: step 10 V
      {"EA", "EA\r"},    // clockwise, ten detents: +100 V
      {"E0", "E0\r"},    // anticlockwise, one detent: -10 V
      {"K08", "K08\r"},  // Right: step 1 V
      {"K02", "K02\r"},  // Down: -1 V
      {"K03", "K03\r"},  // two keys at once: nothing
  };
  for (const auto& step : session) ASSERT_EQ(device.Exchange(step.command), step.reply) << step.command;
  EXPECT_EQ(device.model.PanelScreen().TextOfPage(2), ">2   +92.0V off");
  EXPECT_EQ(device.model.PanelScreen().TextOfPage(7), "Step 1.0V ENT:done");
  EXPECT_EQ(device.Exchange("o1"), "o10398\r");  // 92.0 V already in force

  EXPECT_EQ(device.Exchange("K04"), "K04\r");  // Enter: back to select
  EXPECT_EQ(device.Exchange("E"), "E\r");      // the button switches the channel on
  EXPECT_EQ(device.Exchange("B1"), "B1Y\r");
  EXPECT_EQ(device.model.PanelScreen().TextOfPage(2), ">2   +92.0V  ON");
  EXPECT_EQ(device.Exchange("K01"), "K01\r");  // Left: off
  EXPECT_EQ(device.Exchange("B1"), "B1N\r");
  EXPECT_EQ(device.Exchange("K08"), "K08\r");  // Right: on
  EXPECT_EQ(device.Exchange("B1"), "B1Y\r");
  EXPECT_EQ(device.model.PanelScreen().TextOfPage(1), " 1    +0.0V off");
}

TEST(SimModelDisplay, PanelLimitsTheCursorAndTheSetValue) {
  Device device;
  for (int i = 0; i < 3; ++i) device.Exchange("E9");  // clockwise, a hundred detents: last channel
  EXPECT_EQ(device.model.Panel().Selected(), 3u);
  device.Exchange("K10");
  EXPECT_EQ(device.model.Panel().Selected(), 2u);
  device.Exchange("K04");
  for (int i = 0; i < 5; ++i) device.Exchange("K01");  // step 1000 V at most
  for (int i = 0; i < 5; ++i) device.Exchange("K10");
  EXPECT_EQ(device.Exchange("o2"), "o27530\r");  // 3000.0 V
  EXPECT_EQ(device.model.PanelScreen().TextOfPage(3), ">3 +3000.0V off");
  EXPECT_EQ(device.model.PanelScreen().TextOfPage(7), "Step 1000.0V ENT:done");
}

TEST(SimModelDisplay, InterlockStateIsShown) {
  Device device;
  device.model.SetInterlock(false, device.now);
  EXPECT_EQ(device.model.PanelScreen().TextOfPage(6), "INTERLOCK OPEN");
  EXPECT_TRUE(device.model.PanelScreen().Pixel(0, 6 * 8)) << "shown inverted";
}

TEST(SimModelDisplay, DisplayRepliesCarryTheDisplayMemory) {
  Device device;
  device.Exchange("K04");
  device.Exchange("K10");  // something beyond the start screen
  const auto& memory = device.model.Display();
  EXPECT_EQ(device.Exchange("L"), "L" + HexOf(memory.data(), memory.size()) + "\r");
  for (int row = 0; row < 8; ++row) {
    SCOPED_TRACE(row);
    const std::string reply = device.Exchange("l" + std::to_string(row));
    EXPECT_EQ(reply, "l" + std::to_string(row) + HexOf(memory.data() + row * 128, 128) + "\r");
  }
}

TEST(SimModelDisplay, GlyphsAreDistinctSoTheScreenReadsBack) {
  std::set<zorsim::Glyph> glyphs;
  for (char c = ' '; c <= '~'; ++c) {
    const zorsim::Glyph glyph = zorsim::GlyphOf(c);
    EXPECT_TRUE(glyphs.insert(glyph).second) << "'" << c << "' looks like another character";
    EXPECT_EQ(glyph == zorsim::Glyph{}, c == ' ') << c;
  }
  zorsim::Screen screen;
  screen.DrawText(4, 2, "Hello, 1.5 kV!");
  screen.InvertCells(4, 9, 3);
  EXPECT_EQ(screen.TextOfPage(4), "  Hello, 1.5 kV!");
}

}  // namespace
