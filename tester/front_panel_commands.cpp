// The device's front panel from the PC: keypad and encoder simulation, display dump.
#include <cstdio>
#include <string>

#include "COM-ZOR4.h"
#include "clock.h"
#include "commands.h"

namespace zortester {
namespace {

enum class PanelInput { Keypad, EncoderButton, Encoder };

// What a PC key does on the device's front panel.
struct KeyAction {
  int key;
  PanelInput input;
  uint8_t code;  // keypad bit or encoder code
};

// Bit 3 of an encoder code turns clockwise (Page Up); the low bits: 0 plain, 2 Ctrl, 1 Alt.
constexpr KeyAction kKeyActions[] = {
    {0x148, PanelInput::Keypad, 0x10},  // Up
    {0x150, PanelInput::Keypad, 0x02},  // Down
    {0x14B, PanelInput::Keypad, 0x01},  // Left
    {0x14D, PanelInput::Keypad, 0x08},  // Right
    {kEnterKey, PanelInput::Keypad, 0x04},
    {0x020, PanelInput::EncoderButton, 0},  // Space
    {0x149, PanelInput::Encoder, 0x8},  // Page Up
    {0x151, PanelInput::Encoder, 0x0},  // Page Down: code 0, told from no action by the key
    {0x184, PanelInput::Encoder, 0xA},  // Ctrl + Page Up
    {0x176, PanelInput::Encoder, 0x2},  // Ctrl + Page Down
    {0x199, PanelInput::Encoder, 0x9},  // Alt + Page Up
    {0x1A1, PanelInput::Encoder, 0x1},  // Alt + Page Down
};

const KeyAction* FindAction(int key) {
  for (const KeyAction& action : kKeyActions) {
    if (action.key == key) return &action;
  }
  return nullptr;
}

void Send(const KeyAction& action) {
  switch (action.input) {
    case PanelInput::Keypad:
      if (COM_ZOR4_SimulateKeypad(kPort, action.code) != 0) PrintErrorLine("COM_ZOR4_SimulateKeypad");
      break;
    case PanelInput::EncoderButton:
      if (COM_ZOR4_SimulateEncoderButton(kPort) != 0) PrintErrorLine("COM_ZOR4_SimulateEncoderButton");
      break;
    case PanelInput::Encoder:
      if (COM_ZOR4_SimulateEncoder(kPort, action.code) != 0) PrintErrorLine("COM_ZOR4_SimulateEncoder");
      break;
  }
}

// The key code in place: the next echo overwrites this one.
void EchoKey(Console& console, int key) {
  char text[32];
  std::snprintf(text, sizeof text, "KeyCode: %03X", static_cast<unsigned>(key));
  console.ClearToEndOfLine();
  console.WriteDirect(text);
  console.PlaceCursor(1, console.CursorRow());
}

std::string Hex(const uint8_t* bytes, std::size_t count) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(count * 2);
  for (std::size_t i = 0; i < count; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0x0F];
  }
  return text;
}

}  // namespace

void RunKeypadSimulation(Run& run) {
  if (run.debug) std::fputs("Simulating the keypad and the encoder:\n", stdout);
  if (!run.quiet) {
    std::fputs("Press 'Esc' to quit, arrow keys or 'Enter' to simulate the keypad, 'Space' or 'PgDn'/'PgUp' to "
               "simulate the encoder\n",
               stdout);
  }
  std::fflush(stdout);
  while (true) {
    if (!run.console.KeyWaiting()) {
      SleepMilliseconds(1);
      continue;
    }
    const int key = run.console.ReadKey();
    if (key == kEscKey) break;
    if (run.debug) EchoKey(run.console, key);
    if (const KeyAction* action = FindAction(key)) Send(*action);
    std::fflush(stdout);
  }
  if (!run.quiet) std::fputs("Keypad simulation stopped\n", stdout);
}

void GetDisplayData(Run& run, bool whole_display) {
  if (run.debug) std::fputs("Getting the display data:\n", stdout);
  if (whole_display) {
    uint8_t display[1024] = {};
    if (COM_ZOR4_ReadDisplay(kPort, display) != 0) {
      PrintErrorLine("COM_ZOR4_ReadDisplay");
      return;
    }
    std::printf("%s\n", Hex(display, sizeof display).c_str());
    return;
  }
  for (uint16_t row = 0; row < 8; ++row) {
    uint8_t bytes[128] = {};
    if (COM_ZOR4_ReadDisplayRow(kPort, row, bytes) != 0) {
      PrintErrorLine("COM_ZOR4_ReadDisplayRow");
      return;
    }
    std::printf("LDC row %d: %s\n", row, Hex(bytes, sizeof bytes).c_str());
  }
}

}  // namespace zortester
