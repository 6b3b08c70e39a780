#include "sim/console/unicorn/console_bus.h"

#include <cstring>

namespace kartex {

std::span<std::uint8_t> ConsoleMemory::ram(std::uint32_t addr, std::size_t len) {
  std::vector<std::uint8_t>* region = nullptr;
  std::uint32_t offset = 0;
  switch (addr >> 24) {
    case 0x00:
      region = &bios;
      offset = addr;
      break;
    case 0x02:
      region = &ewram;
      offset = addr & (mem::EWRAM_BYTES - 1);
      break;
    case 0x03:
      region = &iwram;
      offset = addr & (mem::IWRAM_BYTES - 1);
      break;
    case 0x05:
      region = &palette;
      offset = addr & (mem::PALETTE_BYTES - 1);
      break;
    case 0x06:
      region = &vram;
      offset = addr & 0x1FFFF;
      if (offset >= mem::VRAM_BYTES) offset -= 0x8000;  // upper 32 KiB mirror the last 32 KiB
      break;
    case 0x07:
      region = &oam;
      offset = addr & (mem::OAM_BYTES - 1);
      break;
    default:
      return {};
  }
  if (offset + len > region->size()) return {};
  return {region->data() + offset, len};
}

std::uint32_t ConsoleBus::read(std::uint32_t addr, unsigned size) {
  if (addr >= mem::CART_ROM && addr < mem::CART_SAVE_END) return read_cart(addr, size);
  if ((addr >> 24) == 0x04) {
    if ((addr & 0xFFFFFF) < io::SIZE) return read_io(addr & (io::SIZE - 1), size);
  } else if (auto bytes = memory_.ram(addr, size); !bytes.empty()) {
    std::uint32_t v = 0;
    std::memcpy(&v, bytes.data(), size);  // the host is little-endian like the console
    return v;
  }
  log_.misuse("bus", "read of unmapped address " + hex32(addr));
  return 0;
}

void ConsoleBus::write(std::uint32_t addr, unsigned size, std::uint32_t value) {
  if (addr >= mem::CART_ROM && addr < mem::CART_SAVE_END) return write_cart(addr, size, value);
  if ((addr >> 24) == 0x04) {
    if ((addr & 0xFFFFFF) < io::SIZE) return write_io(addr & (io::SIZE - 1), size, value);
  } else if ((addr >> 24) != 0x00) {
    if (auto bytes = memory_.ram(addr, size); !bytes.empty()) {
      std::memcpy(bytes.data(), &value, size);
      return;
    }
  }
  log_.misuse("bus", "write of " + hex32(value) + " to unmapped or read-only address " +
                         hex32(addr));
}

std::uint32_t ConsoleBus::read_io(std::uint32_t offset, unsigned size) {
  if (size == 1) return io_.read8(offset);
  if (size == 2) return io_.read16(offset);
  return io_.read16(offset) | static_cast<std::uint32_t>(io_.read16(offset + 2)) << 16;
}

void ConsoleBus::write_io(std::uint32_t offset, unsigned size, std::uint32_t value) {
  if (size == 1) return io_.write8(offset, static_cast<std::uint8_t>(value));
  io_.write16(offset, static_cast<std::uint16_t>(value));
  if (size == 4) io_.write16(offset + 2, static_cast<std::uint16_t>(value >> 16));
}

void ConsoleBus::end_burst() {
  burst_ = false;
  if (cart_) cart_->bus_released();
}

std::uint32_t ConsoleBus::read_cart(std::uint32_t addr, unsigned size) {
  if (!cart_) return 0;
  if (addr >= mem::CART_SAVE) {
    // 8-bit bus: wider reads see the byte on every lane.
    const std::uint32_t b = cart_->read8(mem::CART_SAVE | (addr & CART_SAVE_MASK));
    return size == 1 ? b : size == 2 ? b * 0x0101u : b * 0x01010101u;
  }
  std::uint32_t v;
  if (size == 4) {
    v = cart_->read16(addr) | static_cast<std::uint32_t>(cart_->read16(addr + 2)) << 16;
  } else {
    const std::uint16_t half = cart_->read16(addr & ~1u);
    v = size == 2 ? half : addr & 1 ? half >> 8 : half & 0xFF;
  }
  if (!burst_) cart_->bus_released();
  return v;
}

void ConsoleBus::write_cart(std::uint32_t addr, unsigned size, std::uint32_t value) {
  if (!cart_) return;
  if (addr >= mem::CART_SAVE) {
    // 8-bit bus: a wider store leaves the byte of its address lane.
    const unsigned lane = addr & (size - 1);
    cart_->write8(mem::CART_SAVE | (addr & CART_SAVE_MASK),
                  static_cast<std::uint8_t>(value >> (8 * lane)));
    return;
  }
  if (size == 4) {
    cart_->write16(addr, static_cast<std::uint16_t>(value));
    cart_->write16(addr + 2, static_cast<std::uint16_t>(value >> 16));
  } else if (size == 2) {
    cart_->write16(addr, static_cast<std::uint16_t>(value));
  } else {
    // A byte store drives the byte on both halves of the 16-bit bus.
    const std::uint16_t b = static_cast<std::uint16_t>(value & 0xFF);
    cart_->write16(addr & ~1u, static_cast<std::uint16_t>(b | b << 8));
  }
  if (!burst_) cart_->bus_released();
}

}  // namespace kartex
