#include "exchanges.h"

#include "COM-ZOR4.h"

namespace zorbench {
namespace {

int32_t Housekeeping() {
  double supply = 0, v5 = 0, v3 = 0, cpu = 0;
  return COM_ZOR4_Get_HousekeepingData(kPort, &supply, &v5, &v3, &cpu);
}

// Alternates between two set values, as a cycle does, so every exchange commands a change.
int32_t SetVoltage() {
  static bool high = false;
  high = !high;
  double volts = high ? 150.0 : 50.0;
  return COM_ZOR4_Set_OutputVoltage(kPort, 0, &volts);
}

int32_t ProductId() {
  static char text[8192];
  return COM_ZOR4_Prod_ID(kPort, text);
}

int32_t Display() {
  static uint8_t memory[1024];
  return COM_ZOR4_ReadDisplay(kPort, memory);
}

int32_t DisplayRow() {
  static uint8_t row[128];
  return COM_ZOR4_ReadDisplayRow(kPort, 3, row);
}

}  // namespace

// The product text of zor-sim ("ZORLINE HV-4 simulated") sets the variable reply's length.
const ExchangeClass kClasses[kClassCount] = {
    {"fixed", "fixed reply, no data (H)", 2, 18, Housekeeping},
    {"data", "fixed reply, with data (o set)", 7, 7, SetVoltage},
    {"variable", "variable-length reply (P)", 2, 24, ProductId},
    {"display", "whole display (L)", 2, 2050, Display},
    {"row", "display row (l)", 3, 259, DisplayRow},
};

const ExchangeClass* FindClass(const std::string& key) {
  for (const ExchangeClass& c : kClasses) {
    if (key == c.key) return &c;
  }
  return nullptr;
}

}  // namespace zorbench
