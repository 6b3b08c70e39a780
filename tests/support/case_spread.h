// Which cases of a long table a build runs. The normal build runs them all.
// Under the sanitizers the simulator runs several times slower, and there
// the longest tables run about one case in KARTEX_CASE_STRIDE: each case
// left out drives the same agent and tool code as the ones kept, and the
// normal build of the same commit still runs it.
//
// The kept cases are an even spread over the table's order and over each
// dimension of a flattened nested table: case i runs when i * P mod n falls
// in the first n / stride residues, P a prime coprime with n near 0.618 n.
#ifndef KARTEX_TESTS_CASE_SPREAD_H
#define KARTEX_TESTS_CASE_SPREAD_H

#include <cstddef>
#include <iterator>
#include <numeric>
#include <vector>

#ifndef KARTEX_CASE_STRIDE
#define KARTEX_CASE_STRIDE 1
#endif

namespace kartex::test {

class CaseSpread {
 public:
  explicit CaseSpread(std::size_t count, std::size_t stride = KARTEX_CASE_STRIDE)
      : count_(count), kept_(count == 0 ? 0 : (count + stride - 1) / stride), step_(step_for(count)) {}

  bool runs(std::size_t index) const { return count_ != 0 && (index % count_) * step_ % count_ < kept_; }
  std::size_t kept() const { return kept_; }

 private:
  static bool prime(std::size_t p) {
    if (p < 2) return false;
    for (std::size_t d = 2; d * d <= p; ++d)
      if (p % d == 0) return false;
    return true;
  }
  static std::size_t step_for(std::size_t count) {
    std::size_t p = count * 618 / 1000 | 1;
    while (!prime(p) || std::gcd(p, count) != 1) ++p;
    return p;
  }

  std::size_t count_, kept_, step_;
};

// The kept cases of a table, in their order.
template <class Table>
auto spread_of(const Table& table) {
  std::vector<typename std::iterator_traits<decltype(std::begin(table))>::value_type> kept;
  const CaseSpread spread(static_cast<std::size_t>(std::distance(std::begin(table), std::end(table))));
  std::size_t index = 0;
  for (const auto& c : table)
    if (spread.runs(index++)) kept.push_back(c);
  return kept;
}

}  // namespace kartex::test

#endif
