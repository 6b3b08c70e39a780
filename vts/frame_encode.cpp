#include "vts/frame_encode.h"

#include <algorithm>
#include <array>
#include <iterator>

#include "contract/wire.h"

namespace kartex {

namespace {

constexpr std::uint32_t MAX_RUN = VIDEO_COUNT_MASK;
constexpr int ROW_PAIRS = 120;
// Motion tried per frame: whole pairs across (pixel steps of 2), rows down.
constexpr int MAX_SHIFT_PAIRS = 8, MAX_SHIFT_ROWS = 16;
constexpr std::uint32_t SAMPLE_STEP = 7;  // pairs between the samples that rank motions
constexpr std::size_t SHIFTS_KEPT = 3;   // per source page, besides the other page as it is

struct Pages {
  std::vector<std::uint16_t> target, same, other;
};

std::vector<std::uint16_t> pairs_of(std::span<const std::uint8_t> page) {
  std::vector<std::uint16_t> pairs(VIDEO_PAGE_PAIRS);
  for (std::uint32_t i = 0; i < VIDEO_PAGE_PAIRS; ++i)
    pairs[i] = static_cast<std::uint16_t>(page[2 * i] | page[2 * i + 1] << 8);
  return pairs;
}

// A copy source: pair `at + delta` of one page for the pair written at `at`.
// The runs an op can send instead of literal pairs, and the halfwords each
// saves against the literals.
enum class RunOp { Skip, Fill, Copy };
struct Choice {
  RunOp op;
  std::int64_t gain;
};

struct Source {
  bool other;
  std::int32_t delta;
};

// What the decoder reads for pair `at` from `src`, -1 outside the page. A
// copy within the page from behind reads what is decoded already (the
// target, since every pair before `at` is), from ahead the old page.
int read_source(const Pages& p, const Source& src, std::uint32_t at) {
  const std::int64_t s = static_cast<std::int64_t>(at) + src.delta;
  if (s < 0 || s >= VIDEO_PAGE_PAIRS) return -1;
  const auto i = static_cast<std::size_t>(s);
  if (src.other) return p.other[i];
  return src.delta < 0 ? p.target[i] : p.same[i];
}

std::uint32_t copy_run(const Pages& p, const Source& src, std::uint32_t at) {
  std::uint32_t n = 0;
  while (at + n < VIDEO_PAGE_PAIRS && n < MAX_RUN && read_source(p, src, at + n) == p.target[at + n]) ++n;
  return n;
}

// The motions that explain most sampled pairs of the target, per page.
std::vector<Source> likely_sources(const Pages& p) {
  std::vector<Source> chosen{{true, 0}};
  for (bool other : {true, false}) {
    std::vector<std::pair<std::uint32_t, std::int32_t>> scored;
    for (int dy = -MAX_SHIFT_ROWS; dy <= MAX_SHIFT_ROWS; ++dy)
      for (int dx = -MAX_SHIFT_PAIRS; dx <= MAX_SHIFT_PAIRS; ++dx) {
        const Source src{other, dy * ROW_PAIRS + dx};
        if (src.delta == 0) continue;  // the other page as it is is always tried; the same page as it is is a skip
        std::uint32_t hits = 0;
        for (std::uint32_t at = 0; at < VIDEO_PAGE_PAIRS; at += SAMPLE_STEP)
          hits += read_source(p, src, at) == p.target[at];
        scored.emplace_back(hits, src.delta);
      }
    const std::size_t keep = std::min(SHIFTS_KEPT, scored.size());
    std::partial_sort(scored.begin(), scored.begin() + static_cast<std::ptrdiff_t>(keep), scored.end(),
                      [](const auto& a, const auto& b) { return a.first > b.first; });
    for (std::size_t i = 0; i < keep; ++i)
      if (scored[i].first > 0) chosen.push_back({other, scored[i].second});
  }
  return chosen;
}

std::uint16_t op(std::uint32_t kind, std::uint32_t count) {
  return static_cast<std::uint16_t>(kind << VIDEO_OP_SHIFT | count);
}

}  // namespace

std::vector<std::uint16_t> encode_frame(std::span<const std::uint8_t> target, std::span<const std::uint8_t> same,
                                        std::span<const std::uint8_t> other) {
  const Pages p{pairs_of(target), pairs_of(same), pairs_of(other)};
  const std::vector<Source> sources = likely_sources(p);
  std::vector<std::uint16_t> out;
  std::vector<std::uint16_t> literal;
  auto flush_literal = [&] {
    if (literal.empty()) return;
    out.push_back(op(VIDEO_OP_LITERAL, static_cast<std::uint32_t>(literal.size())));
    out.insert(out.end(), literal.begin(), literal.end());
    literal.clear();
  };

  std::uint32_t at = 0;
  std::size_t trailing_skips = 0;  // skip ops at the end of `out`
  while (at < VIDEO_PAGE_PAIRS) {
    // Halfwords saved against sending the pairs as literals, per op.
    std::uint32_t skip = 0;
    while (at + skip < VIDEO_PAGE_PAIRS && skip < MAX_RUN && p.same[at + skip] == p.target[at + skip]) ++skip;
    std::uint32_t fill = 0;
    while (at + fill < VIDEO_PAGE_PAIRS && fill < MAX_RUN && p.target[at + fill] == p.target[at]) ++fill;
    std::uint32_t best_copy = 0;
    Source best_source{};
    for (const Source& s : sources)
      if (std::uint32_t n = copy_run(p, s, at); n > best_copy) {
        best_copy = n;
        best_source = s;
      }
    const Choice choices[] = {{RunOp::Skip, static_cast<std::int64_t>(skip) - 1},
                              {RunOp::Fill, static_cast<std::int64_t>(fill) - 2},
                              {RunOp::Copy, static_cast<std::int64_t>(best_copy) - 2}};
    // The first of equal gains wins: a skip sends least, then a fill.
    const Choice best = *std::max_element(std::begin(choices), std::end(choices),
                                          [](const Choice& a, const Choice& b) { return a.gain < b.gain; });
    // A short run costs as much as ending and restarting a literal.
    if (best.gain < 2) {
      literal.push_back(p.target[at++]);
      if (literal.size() == MAX_RUN) flush_literal();
      trailing_skips = 0;
      continue;
    }
    flush_literal();
    trailing_skips = best.op == RunOp::Skip ? trailing_skips + 1 : 0;
    if (best.op == RunOp::Skip) {
      out.push_back(op(VIDEO_OP_SKIP, skip));
      at += skip;
    } else if (best.op == RunOp::Fill) {
      out.push_back(op(VIDEO_OP_FILL, fill));
      out.push_back(p.target[at]);
      at += fill;
    } else {
      const std::int64_t source_byte = 2 * (static_cast<std::int64_t>(at) + best_source.delta);
      out.push_back(static_cast<std::uint16_t>(op(VIDEO_OP_COPY, best_copy) |
                                               (best_source.other ? VIDEO_COPY_OTHER : 0)));
      out.push_back(static_cast<std::uint16_t>(source_byte));
      at += best_copy;
    }
  }
  flush_literal();
  // The page already holds what skips at the end would leave.
  out.resize(out.size() - trailing_skips);
  if (out.size() % 2) out.push_back(op(VIDEO_OP_SKIP, 0));
  return out;
}

}  // namespace kartex
