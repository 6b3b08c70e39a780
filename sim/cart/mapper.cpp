#include "sim/cart/mapper.h"

#include <cstdio>

namespace kartex {

using namespace mapper;

bool Mapper::advance(std::uint32_t offset, std::uint16_t value) {
  const UnlockStep& s = UNLOCK[step_];
  if (offset != s.offset || value != s.value) return false;
  if (++count_ == s.times) {
    ++step_;
    count_ = 0;
  }
  return true;
}

bool Mapper::write16(std::uint32_t offset, std::uint16_t value) {
  if (unlocked()) {
    step_ = 0;
    count_ = 0;
    switch (offset) {
      case REG_ROM_PAGE: page_ = value; return true;
      case REG_SRAM_BANK: bank_ = (value & 7u) | ((value >> 8) & 8u); return true;
      case REG_COMMAND:
        command_ = value;
        if (value != COMMAND_9413) {
          char text[64];
          std::snprintf(text, sizeof text, "command 0x%04X has no modelled effect", value);
          log_.note("mapper", text);
        }
        return true;
      default: break;  // not a register: the unlock is spent, the write goes on
    }
  } else if (step_ < UNLOCK_STEPS && advance(offset, value)) {
    return true;
  }
  // The sequence broke; this write may begin it anew.
  step_ = 0;
  count_ = 0;
  return advance(offset, value);
}

void Mapper::save(StateWriter& out) const {
  out.u32(step_);
  out.u32(count_);
  out.u16(page_);
  out.u8(static_cast<std::uint8_t>(bank_));
  out.u16(command_);
}

void Mapper::load(StateReader& in) {
  step_ = in.u32();
  count_ = in.u32();
  page_ = in.u16();
  bank_ = in.u8();
  command_ = in.u16();
  if (step_ > UNLOCK_STEPS || (step_ < UNLOCK_STEPS && count_ >= UNLOCK[step_].times) || bank_ > 15)
    in.corrupt("mapper registers out of range");
}

}  // namespace kartex
