#include "sim/simulator.h"

#include <filesystem>

#include "common/failure.h"
#include "sim/cart_header.h"
#include "sim/cart_rom.h"
#include "sim/state_file.h"

namespace kartex {

std::unique_ptr<Pipes> Simulator::borrow_pipes() { return std::make_unique<CablePipes>(cable_); }

namespace {

// Format versions of the state files; bump when a part's layout changes.
constexpr std::uint32_t CABLE_STATE_VERSION = 1;
constexpr std::uint32_t CONSOLE_STATE_VERSION = 3;  // 2: the hang flag; 3: the clock
constexpr std::uint32_t CART_STATE_VERSION = 3;  // 2: save chips busy until a time of the clock; 3: flash ROM chips too

}  // namespace

Simulator::Simulator(std::unique_ptr<CartBus> cart, CableTimes times, std::ostream* log_echo)
    : log_(log_echo), cart_(std::move(cart)), console_(log_), cable_(console_, log_, times), pipes_(cable_) {
  console_.set_cart(cart_.get());
}

Simulator::Simulator(CableTimes times, std::ostream* log_echo)
    : Simulator(nullptr, times, log_echo) {
  set_cart(std::make_unique<MaskRom>(make_default_rom()));
}

void Simulator::set_cart(std::unique_ptr<CartBus> cart) {
  cart_ = std::move(cart);
  console_.set_cart(cart_.get());
}

std::vector<std::uint8_t> Simulator::peek(std::uint32_t addr, std::size_t n) {
  std::vector<std::uint8_t> out(n);
  if (!console_.peek(addr, out)) fail("simulator: " + hex32(addr) + " is not console RAM");
  return out;
}

void Simulator::poke(std::uint32_t addr, std::span<const std::uint8_t> bytes) {
  if (!console_.poke(addr, bytes)) fail("simulator: " + hex32(addr) + " is not console RAM");
}

Screen Simulator::screen() const {
  const IoRegisters& io = console_.io();
  VideoRegisters regs;
  regs.dispcnt = io.raw(io::DISPCNT);
  for (unsigned bg = 0; bg < 4; ++bg) {
    regs.bgcnt[bg] = io.raw(io::BG0CNT + 2 * bg);
    regs.hofs[bg] = io.raw(io::BG0HOFS + 4 * bg) & 0x1FF;
    regs.vofs[bg] = io.raw(io::BG0HOFS + 4 * bg + 2) & 0x1FF;
  }
  const ConsoleMemory& m = console_.memory();
  return render_screen(regs, std::span(m.palette).first(mem::PALETTE_BYTES), m.vram);
}

SimStats Simulator::stats() const {
  return {cable_.words_to_console(), cable_.words_from_console(),
          console_.instructions() - instructions_at_start_, cable_.clock().elapsed(), cable_.clock().link_busy()};
}

void Simulator::save_state(const std::string& dir) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) fail("cannot create simulator state directory " + dir + ": " + ec.message());
  StateWriter cable, console, cart;
  cable_.save(cable);
  console_.save(console);
  save_cart(*cart_, cart);
  save_state_part(dir, "cable", CABLE_STATE_VERSION, cable);
  save_state_part(dir, "console", CONSOLE_STATE_VERSION, console);
  save_state_part(dir, "cartridge", CART_STATE_VERSION, cart);
}

bool Simulator::load_state(const std::string& dir) {
  auto load = [&](const char* part, std::uint32_t version, auto&& apply) {
    if (!state_part_exists(dir, part)) return false;
    StateReader in = load_state_part(dir, part, version);
    apply(in);
    if (!in.done()) in.corrupt("trailing bytes");
    return true;
  };
  load("cable", CABLE_STATE_VERSION, [&](StateReader& in) { cable_.load(in); });
  load("console", CONSOLE_STATE_VERSION, [&](StateReader& in) { console_.load(in); });
  const bool has_cart =
      load("cartridge", CART_STATE_VERSION, [&](StateReader& in) { set_cart(load_cart(in, log_)); });
  instructions_at_start_ = console_.instructions();
  cable_.restart_clock();
  return has_cart;
}

}  // namespace kartex
