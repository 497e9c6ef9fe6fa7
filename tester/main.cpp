// ZorTester: the console test utility for ZORLINE devices.
#include "console.h"
#include "program.h"

int main(int argc, char** argv) {
  const auto console = zortester::OpenConsole();
  return zortester::RunProgram(argc, argv, *console);
}
