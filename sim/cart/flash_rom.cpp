#include "sim/cart/flash_rom.h"

#include <algorithm>

#include "common/failure.h"
#include "contract/wire.h"

namespace kartex {

namespace {

constexpr std::uint32_t MiB = 1024 * 1024;

std::string chip_name(const RomOption& o, std::uint32_t set_offset, std::uint32_t which) {
  std::string name = "flash ROM " + o.label();
  if (o.chips_per_set == 2) name += which == 0 ? " even chip" : " odd chip";
  return name + " at ROM " + hex32(set_offset);
}

}  // namespace

FlashRom::FlashRom(const RomOption& option, std::uint32_t size_mib, std::span<const std::uint8_t> contents,
                   SimLog& log, bool max_times, bool d0d1)
    : option_(option),
      model_(max_times ? option.chip->at_max_times() : *option.chip),
      size_(size_mib * MiB),
      d0d1_(d0d1) {
  if (std::find(option.sizes_mib.begin(), option.sizes_mib.end(), size_mib) == option.sizes_mib.end())
    fail("chip=" + option.label() + " comes in no " + std::to_string(size_mib) + " MiB size");
  if (contents.size() > size_)
    fail("the ROM contents (" + std::to_string(contents.size()) + " bytes) are larger than the " +
         std::to_string(size_mib) + " MiB flash ROM");
  for (std::uint32_t set = 0; set < size_ / option.set_bytes(); ++set)
    for (std::uint32_t i = 0; i < option.chips_per_set; ++i)
      chips_.push_back(make_flash_chip(model_, chip_name(option, set * option.set_bytes(), i), log));
  // Contents go chip by chip: halfword h of a set to chip h % n, word h / n.
  const std::uint32_t n = option.chips_per_set;
  auto halfword = [&](std::size_t at) -> std::uint16_t {
    const std::uint16_t lo = contents[at], hi = at + 1 < contents.size() ? contents[at + 1] : 0xFF;
    const auto console = static_cast<std::uint16_t>(lo | hi << 8);
    return d0d1 ? swap_d0d1(console) : console;
  };
  for (std::size_t set = 0; set * option.set_bytes() < contents.size(); ++set) {
    const std::size_t base = set * option.set_bytes();
    const std::size_t halves = (std::min<std::size_t>(contents.size() - base, option.set_bytes()) + 1) / 2;
    for (std::uint32_t i = 0; i < n; ++i) {
      std::span<std::uint16_t> cells = chips_[set * n + i]->cells();
      for (std::size_t h = i; h < halves; h += n) cells[h / n] = halfword(base + 2 * h);
    }
  }
}

FlashRom::Route FlashRom::route(std::uint32_t offset) const {
  const std::uint32_t set = offset / option_.set_bytes();
  const std::uint32_t half = (offset % option_.set_bytes()) / 2;
  if (option_.chips_per_set == 1) return {chips_[set].get(), half};
  return {chips_[set * 2 + (half & 1)].get(), half >> 1};
}

std::uint16_t FlashRom::read16(std::uint32_t offset) {
  const Route r = route(offset);
  const std::uint16_t v = r.chip->read(r.word);
  return d0d1_ ? swap_d0d1(v) : v;
}

void FlashRom::write16(std::uint32_t offset, std::uint16_t value) {
  const Route r = route(offset);
  r.chip->write(r.word, d0d1_ ? swap_d0d1(value) : value);
}

std::uint16_t FlashRom::cell(std::uint32_t offset) {
  const Route r = route(offset);
  const std::uint16_t v = r.chip->cells()[r.word];
  return d0d1_ ? swap_d0d1(v) : v;
}

FlashOps FlashRom::ops() const {
  FlashOps sum;
  for (const auto& chip : chips_) {
    sum.erases += chip->ops().erases;
    sum.programs += chip->ops().programs;
  }
  return sum;
}

void FlashRom::save(StateWriter& out) const {
  out.str(option_.label());
  out.u32(size_ / MiB);
  for (const auto& chip : chips_) chip->save(out);
  for (const auto& chip : chips_) chip->save_protection(out);
  // A CFI chip's board says how it is wired, after the chips (whose cells
  // hold what the chips store)
  if (option_.kind == ROM_KIND_CFI) out.u8(d0d1_);
}

void FlashRom::load_chips(StateReader& in, bool protection) {
  for (const auto& chip : chips_) chip->load(in);
  if (protection)
    for (const auto& chip : chips_) chip->load_protection(in);
}

bool FlashRom::protect(std::uint32_t offset) {
  const Route r = route(offset);
  return r.chip->protect(r.word);
}

}  // namespace kartex
