// The agent's CRC-32 of ROM through the simulator: guest instructions per
// byte summed on the console, against the link, which needs 16 µs (about
// 268 CPU cycles at 16.78 MHz) to carry one 4-byte word.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

#include "bench/bench_agent.h"
#include "cart/agent_crc.h"

namespace kartex {
namespace {

void BM_RomCrc(benchmark::State& state) {
  const auto bytes = static_cast<std::uint32_t>(state.range(0));
  constexpr std::uint32_t BLOCK = 0x10000;
  BenchAgent agent;
  Simulator& sim = agent.sim;
  CableLink& link = agent.link;

  const SimStats before = sim.stats();
  for (auto _ : state) benchmark::DoNotOptimize(rom_crcs(link, 0, bytes, BLOCK));
  const SimStats after = sim.stats();
  const double summed = static_cast<double>(state.iterations()) * bytes;
  state.counters["instr/byte"] = static_cast<double>(after.instructions - before.instructions) / summed;
  state.SetBytesProcessed(static_cast<std::int64_t>(summed));
}

BENCHMARK(BM_RomCrc)->Arg(4 << 20)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kartex
