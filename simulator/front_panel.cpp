#include "front_panel.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>

namespace zorsim {
namespace {

constexpr int kMaxStepExponent = 4;  // 1000 V
constexpr int kFirstChannelRow = 1;
constexpr int kInterlockRow = 6;
constexpr int kHintRow = 7;
constexpr int kValueColumn = 3;
constexpr int kValueCells = 8;  // "+3000.0V"

// Detents of one encoder turn, by the two low bits of its code.
constexpr std::array<int, 4> kDetents = {1, 100, 10, 1000};

int Pow10(int exponent) {
  int value = 1;
  for (int i = 0; i < exponent; ++i) value *= 10;
  return value;
}

// A count of 0.1 V as "+1234.5", without going through floating point.
std::string VoltsText(int count) {
  char text[16];
  std::snprintf(text, sizeof text, "%c%d.%d", count < 0 ? '-' : '+', std::abs(count) / 10, std::abs(count) % 10);
  return text;
}

std::string ChannelText(unsigned channel, const PanelChannel& state, bool selected) {
  char text[32];
  std::snprintf(text, sizeof text, "%c%u %7sV %s", selected ? '>' : ' ', channel + 1, VoltsText(state.set_count).c_str(),
                state.on ? " ON" : "off");
  return text;
}

std::string TitleText(std::size_t channels, uint16_t version) {
  char left[16];
  char right[16];
  std::snprintf(left, sizeof left, "ZORLINE %zuCH", channels);
  std::snprintf(right, sizeof right, "FW %u.%02u", static_cast<unsigned>(version >> 8), static_cast<unsigned>(version & 0xFFU));
  std::string title = left;
  const std::size_t pad = static_cast<std::size_t>(kTextColumns) - std::min<std::size_t>(kTextColumns, title.size() + std::string(right).size());
  return title + std::string(pad, ' ') + right;
}

}  // namespace

FrontPanel::FrontPanel(unsigned channels) : channels_(channels) {}

void FrontPanel::Reset() {
  mode_ = Mode::Select;
  selected_ = 0;
  step_exponent_ = 1;
}

int FrontPanel::StepCount() const { return Pow10(step_exponent_); }

PanelAction FrontPanel::Key(uint8_t code) {
  if (channels_ == 0) return {};
  return mode_ == Mode::Select ? SelectKey(code) : EditKey(code);
}

PanelAction FrontPanel::SelectKey(uint8_t code) {
  switch (code) {
    case kKeyUp: MoveCursor(-1); return {};
    case kKeyDown: MoveCursor(1); return {};
    case kKeyLeft: return {PanelAction::Kind::SwitchOff, selected_, 0};
    case kKeyRight: return {PanelAction::Kind::SwitchOn, selected_, 0};
    case kKeyEnter: mode_ = Mode::Edit; return {};
    default: return {};
  }
}

PanelAction FrontPanel::EditKey(uint8_t code) {
  switch (code) {
    case kKeyUp: return Adjust(1);
    case kKeyDown: return Adjust(-1);
    case kKeyLeft: step_exponent_ = std::min(step_exponent_ + 1, kMaxStepExponent); return {};
    case kKeyRight: step_exponent_ = std::max(step_exponent_ - 1, 0); return {};
    case kKeyEnter: mode_ = Mode::Select; return {};
    default: return {};
  }
}

PanelAction FrontPanel::EncoderTurn(uint8_t code) {
  if (channels_ == 0) return {};
  const int detents = kDetents[code & 0x03U] * ((code & kEncoderClockwise) != 0 ? 1 : -1);
  if (mode_ == Mode::Edit) return Adjust(detents);
  MoveCursor(detents);
  return {};
}

PanelAction FrontPanel::EncoderButton() {
  if (channels_ == 0) return {};
  if (mode_ == Mode::Edit) {
    mode_ = Mode::Select;
    return {};
  }
  return {PanelAction::Kind::Toggle, selected_, 0};
}

void FrontPanel::MoveCursor(int rows) {
  const long target = std::clamp(static_cast<long>(selected_) + rows, 0L, static_cast<long>(channels_) - 1);
  selected_ = static_cast<unsigned>(target);
}

PanelAction FrontPanel::Adjust(int steps) const { return {PanelAction::Kind::Adjust, selected_, steps * StepCount()}; }

std::string FrontPanel::HintText() const {
  if (mode_ == Mode::Select) return "ENT:edit BTN:on/off";
  return "Step " + VoltsText(StepCount()).substr(1) + "V ENT:done";
}

void FrontPanel::Render(Screen& screen, const PanelStatus& status) const {
  screen.Clear();
  screen.DrawText(0, 0, TitleText(status.channels.size(), status.firmware_version));
  screen.InvertPage(0);
  if (status.channels.empty()) screen.DrawText(kFirstChannelRow, 0, "No outputs");
  for (std::size_t i = 0; i < status.channels.size(); ++i) {
    const auto channel = static_cast<unsigned>(i);
    const int row = kFirstChannelRow + static_cast<int>(i);
    screen.DrawText(row, 0, ChannelText(channel, status.channels[i], channel == selected_));
    if (mode_ == Mode::Edit && channel == selected_) screen.InvertCells(row, kValueColumn, kValueCells);
  }
  if (status.interlock_closed) {
    screen.DrawText(kInterlockRow, 0, "Interlock closed");
  } else {
    screen.DrawText(kInterlockRow, 0, "INTERLOCK OPEN");
    screen.InvertCells(kInterlockRow, 0, 14);
  }
  if (!status.channels.empty()) screen.DrawText(kHintRow, 0, HintText());
}

}  // namespace zorsim
