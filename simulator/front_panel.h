// The front panel of the simulated device: five keys, a rotary encoder with a push button, and
// the menu they drive on the 128 x 64 screen.
//
// Screen layout (text rows of 21 characters):
//   row 0      title bar (inverted): "ZORLINE", the channel count and the firmware version
//   rows 1..5  one row per channel: cursor '>', channel number from 1, set value, "ON"/"off"
//   row 6      interlock state
//   row 7      a hint for the current mode
//
// Keypad codes (one bit per key; a code with another value, or several bits, does nothing):
//   0x10 Up     select: cursor to the channel above     edit: set value + one step
//   0x02 Down   select: cursor to the channel below     edit: set value - one step
//   0x01 Left   select: switch the channel off          edit: step x 10 (up to 1000 V)
//   0x08 Right  select: switch the channel on           edit: step / 10 (down to 0.1 V)
//   0x04 Enter  select: edit the set value (inverted)   edit: back to select
// Encoder codes (one hex digit): bit 3 set turns clockwise, clear anticlockwise; the two low bits
// give the detents of the turn: 0 one, 2 ten, 1 a hundred, 3 a thousand.
//   select: the cursor moves by the detents (clockwise = down)   edit: set value +/- detents x step
// Encoder button: select: switch the channel on or off           edit: back to select
// Every change a key makes takes effect at once, as the same command on the line would.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "display.h"

namespace zorsim {

inline constexpr uint8_t kKeyLeft = 0x01;
inline constexpr uint8_t kKeyDown = 0x02;
inline constexpr uint8_t kKeyEnter = 0x04;
inline constexpr uint8_t kKeyRight = 0x08;
inline constexpr uint8_t kKeyUp = 0x10;
inline constexpr uint8_t kEncoderClockwise = 0x08;

// What the panel asks the device to do with one channel.
struct PanelAction {
  enum class Kind { None, Adjust, SwitchOn, SwitchOff, Toggle };
  Kind kind = Kind::None;
  unsigned channel = 0;
  int delta = 0;  // Adjust: change of the set value, in counts of 0.1 V
};

struct PanelChannel {
  int set_count = 0;  // set value in counts of 0.1 V
  bool on = false;
};

// What the screen shows besides the menu.
struct PanelStatus {
  std::span<const PanelChannel> channels;
  bool interlock_closed = true;
  uint16_t firmware_version = 0;
};

class FrontPanel {
 public:
  enum class Mode { Select, Edit };

  explicit FrontPanel(unsigned channels);

  PanelAction Key(uint8_t code);
  PanelAction EncoderTurn(uint8_t code);
  PanelAction EncoderButton();
  void Reset();  // back to select mode, channel 1, step 1 V

  void Render(Screen& screen, const PanelStatus& status) const;

  Mode CurrentMode() const { return mode_; }
  unsigned Selected() const { return selected_; }
  int StepCount() const;  // the edit step in counts of 0.1 V

 private:
  PanelAction SelectKey(uint8_t code);
  PanelAction EditKey(uint8_t code);
  void MoveCursor(int rows);
  PanelAction Adjust(int steps) const;
  std::string HintText() const;

  unsigned channels_;
  Mode mode_ = Mode::Select;
  unsigned selected_ = 0;
  int step_exponent_ = 1;  // the step is 10^step_exponent counts of 0.1 V
};

}  // namespace zorsim
