#pragma once
// The ROM side of a cartridge: what answers at a ROM offset (after the
// mapper's page). A part covers offsets 0 to span() - 1 without holes;
// past it nothing drives the bus.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/sim_log.h"
#include "sim/state/state_file.h"

namespace kartex {

class RomPart {
 public:
  virtual ~RomPart() = default;
  virtual std::string name() const = 0;
  virtual std::string kind() const = 0;  // tag in the state file
  virtual std::uint32_t span() const = 0;
  // offset < span(), even.
  virtual std::uint16_t read16(std::uint32_t offset) = 0;
  virtual void write16(std::uint32_t offset, std::uint16_t value) = 0;
  virtual void save(StateWriter& out) const = 0;
};

// Read-only contents; writes are ignored, as a mask ROM has no command set.
class MaskRomPart : public RomPart {
 public:
  explicit MaskRomPart(std::vector<std::uint8_t> contents);

  std::string name() const override { return "mask ROM"; }
  std::string kind() const override { return "mask-rom"; }
  std::uint32_t span() const override { return static_cast<std::uint32_t>(rom_.size()); }
  std::uint16_t read16(std::uint32_t offset) override {
    return static_cast<std::uint16_t>(rom_[offset] | rom_[offset + 1] << 8);
  }
  void write16(std::uint32_t, std::uint16_t) override {}
  void save(StateWriter& out) const override { out.blob(rom_); }

 private:
  std::vector<std::uint8_t> rom_;
};

// Rebuilds a part saved with its kind() tag first; `protection`: the state
// holds the flash chips' sector protection (cartridge format 2 on).
std::unique_ptr<RomPart> load_rom_part(StateReader& in, SimLog& log, bool protection = true);

}  // namespace kartex
