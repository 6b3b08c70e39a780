#include "sim/save/save_sram.h"

#include "sim/save/save_commands.h"

namespace kartex {

using namespace save;

SramChip::SramChip(std::uint32_t bytes, std::vector<std::uint8_t> image)
    : cells_(image.empty() ? std::vector<std::uint8_t>(bytes, SRAM_ERASED) : std::move(image)) {}

std::string SramChip::name() const { return "SRAM " + std::to_string(cells_.size() / KiB) + " KiB"; }

std::size_t SramChip::index(std::uint32_t addr, unsigned sram_bank) const {
  if (cells_.size() <= WINDOW_BYTES) return addr & (cells_.size() - 1);  // no bank lines
  const std::size_t banks = cells_.size() / WINDOW_BYTES;
  return (sram_bank & (banks - 1)) * WINDOW_BYTES + (addr & (WINDOW_BYTES - 1));
}

void SramChip::save(StateWriter& out) const { out.blob(cells_); }

std::unique_ptr<SaveChip> SramChip::load(StateReader& in) {
  std::vector<std::uint8_t> cells = in.blob();
  if (cells.size() != SRAM_32K && cells.size() != SRAM_256K && cells.size() != SRAM_1M)
    in.corrupt("SRAM of " + std::to_string(cells.size()) + " bytes");
  const auto bytes = static_cast<std::uint32_t>(cells.size());
  return std::make_unique<SramChip>(bytes, std::move(cells));
}

}  // namespace kartex
