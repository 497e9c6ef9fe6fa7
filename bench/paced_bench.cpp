// Paced end to end: the library against zor-sim over loopback, each command class COUNT times
// back to back. Prints one JSON object: the microseconds of every exchange per class and the
// failed exchanges.
//
// Usage: paced_bench URL COUNT [CLASS...]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "COM-ZOR4.h"
#include "exchanges.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Timed {
  const zorbench::ExchangeClass* c;
  std::vector<double> us;
  unsigned failures = 0;
};

void RunClass(Timed& t, unsigned count) {
  for (int i = 0; i < 3; ++i) (void)t.c->run();  // warm-up: caches, the device's first reply
  t.us.reserve(count);
  for (unsigned i = 0; i < count; ++i) {
    const auto start = Clock::now();
    const int32_t code = t.c->run();
    const auto end = Clock::now();
    if (code != 0) {
      ++t.failures;
      (void)COM_ZOR4_Purge(zorbench::kPort);
      continue;
    }
    t.us.push_back(std::chrono::duration<double, std::micro>(end - start).count());
  }
}

void Print(const std::vector<Timed>& all) {
  std::printf("{");
  for (size_t i = 0; i < all.size(); ++i) {
    std::printf("%s\"%s\": {\"failures\": %u, \"us\": [", i ? ", " : "", all[i].c->key, all[i].failures);
    for (size_t j = 0; j < all[i].us.size(); ++j) std::printf("%s%.1f", j ? ", " : "", all[i].us[j]);
    std::printf("]}");
  }
  std::printf("}\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: paced_bench URL COUNT [CLASS...]\n");
    return 2;
  }
  const long count = std::strtol(argv[2], nullptr, 10);
  if (count < 1 || count > 1000000) {
    std::fprintf(stderr, "paced_bench: COUNT must be 1 to 1000000\n");
    return 2;
  }
  std::vector<Timed> all;
  for (int i = 3; i < argc; ++i) {
    const zorbench::ExchangeClass* c = zorbench::FindClass(argv[i]);
    if (c == nullptr) {
      std::fprintf(stderr, "paced_bench: no class '%s'\n", argv[i]);
      return 2;
    }
    all.push_back({c, {}});
  }
  if (argc == 3) {
    for (const zorbench::ExchangeClass& c : zorbench::kClasses) all.push_back({&c, {}});
  }
  if (COM_ZOR4_OpenByName(zorbench::kPort, argv[1]) != 0) {
    std::fprintf(stderr, "paced_bench: cannot open %s: %s\n", argv[1], COM_ZOR4_ErrorMessage(zorbench::kPort));
    return 1;
  }
  for (Timed& t : all) RunClass(t, static_cast<unsigned>(count));
  Print(all);
  return COM_ZOR4_Close(zorbench::kPort) == 0 ? 0 : 1;
}
