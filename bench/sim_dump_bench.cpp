// How fast the simulator streams cartridge ROM through the real agent: link
// words per second on the host, and guest instructions per link word (the
// agent's cost per word, which bounds the real link's throughput).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

#include "bench/bench_agent.h"

namespace kartex {
namespace {

constexpr std::uint32_t PIECE = 4096;

void BM_RomDump(benchmark::State& state) {
  const auto bytes = static_cast<std::uint32_t>(state.range(0));
  BenchAgent agent;
  Simulator& sim = agent.sim;
  CableLink& link = agent.link;

  std::vector<std::uint8_t> buffer(PIECE);
  const SimStats before = sim.stats();
  for (auto _ : state) {
    link.agent_request(REQ_ROM_READ, ROM_BASE, bytes, 0);
    for (std::uint32_t done = 0; done < bytes; done += PIECE) {
      link.read_words_long(std::span(buffer).first(std::min(PIECE, bytes - done)));
      benchmark::DoNotOptimize(buffer.data());
    }
  }
  const SimStats after = sim.stats();
  const double words = static_cast<double>(after.words_from_console - before.words_from_console);
  state.counters["words/s"] = benchmark::Counter(words, benchmark::Counter::kIsRate);
  state.counters["instr/word"] =
      static_cast<double>(after.instructions - before.instructions) / std::max(words, 1.0);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * bytes);
}

BENCHMARK(BM_RomDump)->Arg(1 << 20)->Arg(4 << 20)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kartex

BENCHMARK_MAIN();
