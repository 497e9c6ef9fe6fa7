// The console on its own, for the terminal tests: prints the code of every key it reads, "key 148"
// for Up. The key r prints the cursor row, p writes a live line and overwrites it in place, l reads
// a line; Esc ends. Between keys it waits in AwaitKey with a bound longer than the tests wait, so
// every key answered shows that the wait ends when the key comes.
#include <cstdio>

#include "console.h"

using namespace zortester;

int main() {
  const auto console = OpenConsole();
  std::printf("ready\n");
  std::fflush(stdout);
  for (int key = 0; key != kEscKey;) {
    if (!console->KeyWaiting()) {
      console->AwaitKey(60000);
      continue;
    }
    key = console->ReadKey();
    if (key == 'r') {
      std::printf("row %d\n", console->CursorRow());
    } else if (key == 'p') {
      console->WriteDirect("live line");
      console->PlaceCursor(1, console->CursorRow());
      console->ClearToEndOfLine();
      console->WriteDirect("in place");
      std::printf("\n");
    } else if (key == 'l') {
      std::printf("answer: ");
      const auto line = console->ReadLine();
      std::printf("line <%s>\n", line ? line->c_str() : "(end)");
    } else {
      std::printf("key %03X\n", key);
    }
    std::fflush(stdout);
  }
  return 0;
}
