#include "slots.h"

#include <new>

#include "COM-ZOR4.h"
#include "debug_file.h"

namespace zor {

namespace {

// Constant-initialised, so it is usable whatever order static objects are built in.
PortSlot g_slots[kSlotCount] = {};

struct StatusEntry {
  int32_t code;
  const char* text;
};

constexpr StatusEntry kStatusTexts[] = {
    {0, "No error"},
    {-2, "Error opening the port"},
    {-3, "Error closing the port"},
    {-4, "Error purging the port"},
    {-5, "Error setting the port control lines"},
    {-6, "Error reading the port status lines"},
    {-7, "Error sending command"},
    {-8, "Error sending data"},
    {-9, "Error sending the termination character"},
    {-10, "Error receiving command"},
    {-11, "Error receiving data"},
    {-12, "Error receiving the termination character"},
    {-13, "Wrong command received"},
    {-14, "Wrong argument received"},
    {-15, "Wrong argument passed to the function"},
    {-50, "Channel not implemented"},
    {-51, "Current sensor not implemented"},
    {-100, "Device not connected"},
    {-101, "Device not ready"},
    {-102, "Device state could not be set to not ready"},
    {-300, "Memory for the port data could not be allocated"},
    {-400, "Error opening the file for debugging output"},
    {-401, "Error closing the file for debugging output"},
};

constexpr const char* kOutOfRangeText = "PortNumber out of range";

COMPort* NewPort(uint16_t) { return new (std::nothrow) COMPort(); }

}  // namespace

void LoadSlots(PortFactory factory) {
  if (factory == nullptr) factory = NewPort;
  for (uint16_t n = 0; n < kSlotCount; ++n) {
    g_slots[n].Port = factory(n);
    g_slots[n].LastStatus = 0;
  }
}

void UnloadSlots() {
  for (PortSlot& slot : g_slots) {
    if (slot.Port != nullptr) (void)CloseSlotDebugFile(slot);
    delete slot.Port;
    slot.Port = nullptr;
  }
}

PortSlot* FindSlot(uint16_t PortNumber) {
  return PortNumber < kSlotCount ? &g_slots[PortNumber] : nullptr;
}

int32_t EnterSlot(uint16_t PortNumber, PortSlot*& slot) {
  slot = FindSlot(PortNumber);
  if (slot == nullptr) return kPortNumberOutOfRange;
  if (slot->Port == nullptr) return Store(*slot, kNoPortMemory);
  return 0;
}

const char* StatusText(int32_t code) {
  for (const StatusEntry& entry : kStatusTexts) {
    if (entry.code == code) return entry.text;
  }
  return "Unknown error";
}

}  // namespace zor

using zor::PortSlot;

extern "C" {

uint16_t COM_ZOR4_Version(void) { return 0x010A; }

int32_t COM_ZOR4_State(uint16_t PortNumber) {
  PortSlot* slot = nullptr;
  if (const int32_t code = zor::EnterSlot(PortNumber, slot); code != 0) return code;
  return slot->LastStatus;
}

const char* COM_ZOR4_ErrorMessage(uint16_t PortNumber) {
  const PortSlot* slot = zor::FindSlot(PortNumber);
  if (slot == nullptr) return zor::kOutOfRangeText;
  return zor::StatusText(slot->LastStatus);
}

int32_t COM_ZOR4_IO_State(uint16_t PortNumber) {
  PortSlot* slot = nullptr;
  if (const int32_t code = zor::EnterSlot(PortNumber, slot); code != 0) return code;
  return slot->Port->PortError;
}

const char* COM_ZOR4_IO_ErrorMessage(uint16_t PortNumber) {
  const PortSlot* slot = zor::FindSlot(PortNumber);
  if (slot == nullptr) return zor::kOutOfRangeText;
  if (slot->Port == nullptr) return "Memory for the port was not allocated";
  return slot->Port->ErrorMessage();
}

}  // extern "C"
