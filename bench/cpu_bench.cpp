// CPU per exchange: each command class through the library's C interface over a zero-latency
// line in the process, so the time is the library's own work; wire_us is what the exchange's
// characters take on the line.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "COM-ZOR4.h"
#include "exchanges.h"
#include "instant_line.h"
#include "slots.h"

namespace {

void Exchange(benchmark::State& state, const zorbench::ExchangeClass* c) {
  if (c->run() != 0) {  // the first exchange of a command line also records the reply
    state.SkipWithError("the exchange failed");
    return;
  }
  for (auto _ : state) {
    if (c->run() != 0) {
      state.SkipWithError("the exchange failed");
      break;
    }
  }
  state.counters["wire_us"] = zorbench::WireMicroseconds(*c);
}

}  // namespace

int main(int argc, char** argv) {
  zor::LoadSlots();  // what loading the shared library does
  zorbench::UseInstantLines();
  if (COM_ZOR4_OpenByName(zorbench::kPort, "instant") != 0) {
    std::fprintf(stderr, "cpu_bench: the port did not open\n");
    return 1;
  }
  for (const zorbench::ExchangeClass& c : zorbench::kClasses) {
    benchmark::RegisterBenchmark(c.key, Exchange, &c);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  const bool closed = COM_ZOR4_Close(zorbench::kPort) == 0;
  zor::UnloadSlots();
  return closed ? 0 : 1;
}
