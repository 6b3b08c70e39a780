// What compressing the dump block by block would save and cost: for each
// kind of content in a corpus directory (bench/corpus.sh) and on a ROM-like
// mix of them, each codec's saving over whole 64 KiB blocks (a block that
// would grow counts raw), its CPU cycles a byte on the simulated console
// (the codec program in bench/codec_arm/, on a few blocks of each kind),
// and the dump rate it would give on the link.
//   kartex_codec_study CORPUS_DIR [BLOCKS_TIMED_PER_KIND]

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bench/codec_arm/jobs.h"
#include "bench/codecs/codecs.h"
#include "contract/wire.h"
#include "sim/cart/cart_rom.h"
#include "sim/simulator.h"

namespace kartex {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t BLOCK = DUMP_BLOCK_BYTES;
// One link word: 16 µs of the console's 2^24 Hz clock.
constexpr double LINK_WORD_CYCLES = 16e-6 * 16777216.0;
// What the send loop spends on each word it hands the link.
constexpr double SEND_CYCLES_PER_WORD = 9.0;
// A block's words beside its data: the header pair and the CRC.
constexpr std::size_t BLOCK_EXTRA_WORDS = 3;

const char* const KINDS[] = {"code-arm", "code-thumb", "tiles4", "tiles8", "sound", "text"};
// The mix: shares of code, tiles, sound and text, 40/30/20/10.
const unsigned MIX_SHARE[] = {20, 20, 15, 15, 20, 10};

// The ones up to TIMED run on the console too.
enum Codec { RLE, LZF, LZF_SLOW_TABLE, LZ10, LZ10_SLOW_TABLE, DEFLATE, CODECS, TIMED = LZ10_SLOW_TABLE };
const char* const CODEC_NAME[] = {"run-length",
                                  "LZ77 greedy, 64 KiB window",
                                  "the same, hash table in EWRAM",
                                  "LZ77 BIOS form, 4 KiB window",
                                  "the same, hash table in EWRAM",
                                  "deflate level 9 (reference, host only)"};
const std::uint32_t CODEC_JOB[] = {JOB_RLE, JOB_LZF, JOB_LZF_SLOW_TABLE, JOB_LZ10, JOB_LZ10_SLOW_TABLE, 0};

Bytes read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + path + " (run bench/corpus.sh first)");
  return Bytes{std::istreambuf_iterator<char>(in), {}};
}

// Pieces of 1-16 KiB drawn from the kinds by their shares, so that blocks
// hold several kinds as a ROM's do; the same seed, the same mix.
Bytes make_mix(const std::vector<Bytes>& kinds, std::size_t size) {
  std::mt19937 gen(28);
  std::discrete_distribution<unsigned> pick(std::begin(MIX_SHARE), std::end(MIX_SHARE));
  std::uniform_int_distribution<std::size_t> piece(1024, 16384);
  std::vector<std::size_t> at(kinds.size(), 0);
  Bytes mix;
  while (mix.size() < size) {
    const unsigned k = pick(gen);
    const std::size_t n = std::min(piece(gen) & ~std::size_t{3}, size - mix.size());
    const Bytes& from = kinds[k];
    if (at[k] + n > from.size()) at[k] = 0;
    mix.insert(mix.end(), from.begin() + static_cast<std::ptrdiff_t>(at[k]),
               from.begin() + static_cast<std::ptrdiff_t>(at[k] + n));
    at[k] += n;
  }
  return mix;
}

// The encoded size, 0 if the block goes raw; checked by decoding it.
std::size_t encode(Codec c, const std::uint8_t* in, std::size_t n) {
  Bytes out(n + 64);
  std::vector<std::uint16_t> table(std::max(LZF_HASH_ENTRIES, LZ10_HASH_ENTRIES));
  std::size_t size = 0;
  int bad = 0;
  Bytes back(n);
  switch (c) {
    case RLE:
      size = rle_encode(in, n, out.data());
      bad = size ? rle_decode(out.data(), size, back.data(), n) : 0;
      break;
    case LZF:
    case LZF_SLOW_TABLE:
      size = lzf_encode(in, n, out.data(), table.data());
      bad = size ? lzf_decode(out.data(), size, back.data(), n) : 0;
      break;
    case LZ10:
    case LZ10_SLOW_TABLE:
      size = lz10_encode(in, n, out.data(), table.data());
      bad = size ? lz10_decode(out.data(), size, back.data(), n) : 0;
      break;
    case DEFLATE: {
      uLongf z = static_cast<uLongf>(out.size());
      if (compress2(out.data(), &z, in, static_cast<uLong>(n), 9) != Z_OK) throw std::runtime_error("deflate failed");
      size = z < n ? z : 0;
      return size;
    }
    case CODECS: break;
  }
  if (bad || (size && !std::equal(back.begin(), back.end(), in)))
    throw std::runtime_error(std::string(CODEC_NAME[c]) + " does not decode to its block");
  return size;
}

std::size_t words_sent(std::size_t encoded) {
  return (encoded ? (encoded + 3) / 4 : BLOCK / 4) + BLOCK_EXTRA_WORDS;
}

struct Timed {
  double copy = 0, crc = 0, codec[CODECS] = {};  // cycles, summed over the timed blocks
  std::size_t blocks = 0;
};

// Runs the codec program on the simulated console over `blocks` (each
// BLOCK bytes, put in a mask ROM) and checks its answers against the host's.
Timed time_on_console(const std::vector<const std::uint8_t*>& blocks, const Bytes& program) {
  Timed t;
  if (blocks.empty()) return t;
  Bytes rom;
  for (const std::uint8_t* b : blocks) rom.insert(rom.end(), b, b + BLOCK);
  Simulator sim(std::make_unique<MaskRom>(rom));
  Console& console = sim.console();

  if (blocks.size() * (3 + TIMED) > CODEC_JOBS_MAX) throw std::runtime_error("too many blocks to time at once");
  codec_jobs jobs{};
  auto add = [&jobs](std::uint32_t kind, std::uint32_t src, std::uint32_t dst) {
    jobs.job[jobs.count++] = codec_job{kind, src, static_cast<std::uint32_t>(BLOCK), dst, 0, 0};
  };
  std::vector<std::size_t> expect;
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    add(JOB_COPY, static_cast<std::uint32_t>(ROM_BASE + i * BLOCK), CODEC_BLOCK_BUFFER);
    add(JOB_CRC, CODEC_BLOCK_BUFFER, 0);
    expect.push_back(crc32(0, blocks[i], BLOCK));
    for (int c = RLE; c <= TIMED; ++c) {
      add(CODEC_JOB[c], CODEC_BLOCK_BUFFER, CODEC_OUT_BUFFER);
      expect.push_back(encode(static_cast<Codec>(c), blocks[i], BLOCK));
    }
  }
  const auto* raw = reinterpret_cast<const std::uint8_t*>(&jobs);
  console.boot(std::span(raw, sizeof jobs));
  if (!console.poke(CODEC_PROGRAM_BASE, program)) throw std::runtime_error("cannot load the codec program");
  console.set_reg(UC_ARM_REG_CPSR, bios::MODE_SYS | bios::PSR_IRQ_MASKED);
  console.set_reg(UC_ARM_REG_PC, CODEC_PROGRAM_BASE);
  console.run(~std::uint64_t{0});
  std::vector<std::uint8_t> back(sizeof jobs);
  if (!console.peek(CODEC_JOBS_BASE, back)) throw std::runtime_error("cannot read the job list back");
  codec_jobs answered{};
  std::copy(back.begin(), back.end(), reinterpret_cast<std::uint8_t*>(&answered));
  if (answered.done != jobs.count)
    throw std::runtime_error("the codec program stopped after " + std::to_string(answered.done) + " of " +
                             std::to_string(jobs.count) + " jobs: " + console.fault());
  std::size_t e = 0;
  for (std::uint32_t i = 0; i < answered.count; ++i) {
    const codec_job& j = answered.job[i];
    if (j.kind == JOB_COPY) {
      t.copy += j.cycles;
      continue;
    }
    if (j.result != expect[e++])
      throw std::runtime_error("job " + std::to_string(i) + " answered " + std::to_string(j.result) +
                               " on the console, " + std::to_string(expect[e - 1]) + " on the host");
    if (j.kind == JOB_CRC) {
      t.crc += j.cycles;
      continue;
    }
    for (int c = RLE; c <= TIMED; ++c)
      if (CODEC_JOB[c] == j.kind) t.codec[c] += j.cycles;
  }
  t.blocks = blocks.size();
  return t;
}

struct Row {
  std::string kind;
  std::size_t blocks = 0;
  std::size_t encoded[CODECS] = {};  // whole blocks' encoded sizes (raw ones as BLOCK)
  std::size_t shrunk[CODECS] = {};
  double rate[CODECS] = {};  // kB/s
  Timed timed;
};

Row study(const std::string& kind, const Bytes& data, std::size_t timed_blocks, const Bytes& program) {
  Row r;
  r.kind = kind;
  r.blocks = data.size() / BLOCK;
  std::vector<std::size_t> sizes[CODECS];
  for (std::size_t b = 0; b < r.blocks; ++b)
    for (int c = 0; c < CODECS; ++c) {
      const std::size_t s = encode(static_cast<Codec>(c), data.data() + b * BLOCK, BLOCK);
      sizes[c].push_back(s);
      r.encoded[c] += s ? s : BLOCK;
      r.shrunk[c] += s != 0;
    }
  std::vector<const std::uint8_t*> pick;
  const std::size_t n = std::min(timed_blocks, r.blocks);
  for (std::size_t i = 0; i < n; ++i) pick.push_back(data.data() + (i * r.blocks / n) * BLOCK);
  r.timed = time_on_console(pick, program);
  // Each block takes the longer of the link's time for its words and the
  // CPU's for reading, summing, encoding and sending it (the two overlap).
  for (int c = 0; c <= TIMED; ++c) {
    const double per_byte = (r.timed.copy + r.timed.crc + r.timed.codec[c]) / static_cast<double>(n * BLOCK);
    double cycles = 0;
    for (std::size_t s : sizes[c]) {
      const double words = static_cast<double>(words_sent(s));
      cycles += std::max(words * LINK_WORD_CYCLES, per_byte * BLOCK + words * SEND_CYCLES_PER_WORD);
    }
    r.rate[c] = static_cast<double>(r.blocks * BLOCK) / (cycles / 16777216.0) / 1000.0;
  }
  return r;
}

void print(const std::vector<Row>& rows) {
  const double floor_rate = 4.0 / 16e-6 / 1000.0 * BLOCK / 4 / static_cast<double>(BLOCK / 4 + BLOCK_EXTRA_WORDS);
  std::printf("Raw blocks at the link floor: %.1f kB/s\n\n", floor_rate);
  std::printf("| kind | blocks | codec | saving | blocks shrunk | cycles/byte (codec) | cycles/byte (copy+CRC+codec) | kB/s |\n");
  std::printf("|---|---|---|---|---|---|---|---|\n");
  for (const Row& r : rows) {
    const double timed_bytes = static_cast<double>(r.timed.blocks * BLOCK);
    const double base = (r.timed.copy + r.timed.crc) / timed_bytes;
    for (int c = 0; c < CODECS; ++c) {
      const double saving = 100.0 * (1.0 - static_cast<double>(r.encoded[c]) / static_cast<double>(r.blocks * BLOCK));
      if (c == DEFLATE) {
        std::printf("| %s | %zu | %s | %.1f %% | %zu | - | - | - |\n", r.kind.c_str(), r.blocks, CODEC_NAME[c], saving,
                    r.shrunk[c]);
        continue;
      }
      const double codec = r.timed.codec[c] / timed_bytes;
      std::printf("| %s | %zu | %s | %.1f %% | %zu | %.1f | %.1f | %.0f |\n", r.kind.c_str(), r.blocks, CODEC_NAME[c],
                  saving, r.shrunk[c], codec, base + codec, r.rate[c]);
    }
  }
  std::printf("\nTimed on the console: %zu blocks a kind; copy from ROM and CRC alone, cycles/byte:", rows.empty() ? 0 : rows[0].timed.blocks);
  for (const Row& r : rows)
    std::printf(" %s %.1f+%.1f", r.kind.c_str(), r.timed.copy / static_cast<double>(r.timed.blocks * BLOCK),
                r.timed.crc / static_cast<double>(r.timed.blocks * BLOCK));
  std::printf("\n");
}

}  // namespace
}  // namespace kartex

int main(int argc, char** argv) {
  using namespace kartex;
  if (argc < 2 || argc > 3) {
    std::cerr << "usage: kartex_codec_study CORPUS_DIR [BLOCKS_TIMED_PER_KIND]\n";
    return 2;
  }
  try {
    const std::string dir = argv[1];
    const std::size_t timed = argc == 3 ? std::stoul(argv[2]) : 4;
    const Bytes program = read_file(KARTEX_CODEC_PROGRAM);
    std::vector<Bytes> kinds;
    std::vector<Row> rows;
    for (const char* k : KINDS) {
      kinds.push_back(read_file(dir + "/" + k + ".bin"));
      if (kinds.back().size() < BLOCK) throw std::runtime_error(std::string(k) + ".bin holds less than one block");
      rows.push_back(study(k, kinds.back(), timed, program));
    }
    rows.push_back(study("mix", make_mix(kinds, 64 * BLOCK), timed, program));
    print(rows);
  } catch (const std::exception& e) {
    std::cerr << "kartex_codec_study: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
