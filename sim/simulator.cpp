#include "sim/simulator.h"

#include <filesystem>

#include "common/failure.h"
#include "sim/cart/cart_header.h"
#include "sim/cart/cart_rom.h"
#include "sim/state/state_file.h"

namespace kartex {

std::unique_ptr<Pipes> Simulator::borrow_pipes() { return std::make_unique<CablePipes>(cable_); }

namespace {

// Format versions of the state files; bump when a part's layout changes.
constexpr std::uint32_t CABLE_STATE_VERSION = 1;
constexpr std::uint32_t CONSOLE_STATE_VERSION = 4;  // 2: the hang flag; 3: the clock; 4: the timers
constexpr std::uint32_t CART_STATE_VERSION = 3;  // 2: save chips busy until a time of the clock; 3: flash ROM chips too
// The emulator library's console and cartridge keep their own parts, so
// that a state of one core is never read as the other's.
constexpr std::uint32_t MGBA_STATE_VERSION = 1;
constexpr std::uint32_t MGBA_CART_STATE_VERSION = 2;  // 2: the board's mirroring
const char* const MGBA_CONSOLE_PART = "mgba-console";
const char* const MGBA_CART_PART = "mgba-cartridge";

std::unique_ptr<SimConsole> make_console(SimCore core, SimLog& log) {
  if (core == SimCore::Mgba) return std::make_unique<MgbaConsole>(log);
  return std::make_unique<Console>(log);
}

}  // namespace

Simulator::Simulator(std::unique_ptr<CartBus> cart, CableTimes times, std::ostream* log_echo, SimCore core)
    : log_(log_echo),
      cart_(std::move(cart)),
      console_(make_console(core, log_)),
      unicorn_(dynamic_cast<Console*>(console_.get())),
      mgba_(dynamic_cast<MgbaConsole*>(console_.get())),
      cable_(*console_, log_, times),
      pipes_(cable_) {
  if (unicorn_) unicorn_->set_cart(cart_.get());
  if (mgba_) {
    MgbaCart default_cart;
    default_cart.rom = make_default_rom();
    mgba_->insert(std::move(default_cart));
  }
}

Console& Simulator::console() {
  if (!unicorn_) fail("simulator: the emulator library's console has no Unicorn CPU to look at");
  return *unicorn_;
}

Simulator::Simulator(CableTimes times, std::ostream* log_echo)
    : Simulator(nullptr, times, log_echo) {
  set_cart(std::make_unique<MaskRom>(make_default_rom()));
}

void Simulator::set_cart(std::unique_ptr<CartBus> cart) {
  cart_ = std::move(cart);
  console().set_cart(cart_.get());
}

void Simulator::set_cart(MgbaCart cart) {
  if (!mgba_) fail("simulator: a cartridge for the emulator library's console on the Unicorn console");
  mgba_->insert(std::move(cart));
}

std::vector<std::uint8_t> Simulator::peek(std::uint32_t addr, std::size_t n) {
  std::vector<std::uint8_t> out(n);
  if (!console_->peek(addr, out)) fail("simulator: " + hex32(addr) + " is not console RAM");
  return out;
}

void Simulator::poke(std::uint32_t addr, std::span<const std::uint8_t> bytes) {
  if (!console_->poke(addr, bytes)) fail("simulator: " + hex32(addr) + " is not console RAM");
}

Screen Simulator::screen() const { return console_->screen(); }

SimStats Simulator::stats() const {
  SimStats s;
  s.words_to_console = cable_.words_to_console();
  s.words_from_console = cable_.words_from_console();
  if (unicorn_) s.instructions = unicorn_->instructions() - instructions_at_start_;
  if (mgba_) {
    s.cpu_cycles = mgba_->cycles() - cycles_at_start_;
    s.turnaround_cycles = mgba_->turnaround_cycles() - turnaround_at_start_;
  }
  s.hardware_time = cable_.clock().elapsed();
  s.link_busy = cable_.clock().link_busy();
  return s;
}

void Simulator::save_state(const std::string& dir) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) fail("cannot create simulator state directory " + dir + ": " + ec.message());
  StateWriter cable, console, cart;
  cable_.save(cable);
  console_->save(console);
  // All parts of one moment, put in place together: a save cut short never
  // leaves a cable of this run beside a cartridge of the last.
  StateSave save(dir);
  save.add("cable", CABLE_STATE_VERSION, cable);
  if (mgba_) {
    save_mgba_cart(mgba_->cart(), cart);
    save.add(MGBA_CONSOLE_PART, MGBA_STATE_VERSION, console);
    save.add(MGBA_CART_PART, MGBA_CART_STATE_VERSION, cart);
  } else {
    save_cart(*cart_, cart);
    save.add("console", CONSOLE_STATE_VERSION, console);
    save.add("cartridge", CART_STATE_VERSION, cart);
  }
  save.commit();
}

bool Simulator::load_state(const std::string& dir) {
  auto load = [&](const char* part, std::uint32_t version, auto&& apply) {
    if (!state_part_exists(dir, part)) return false;
    StateReader in = load_state_part(dir, part, version);
    apply(in);
    if (!in.done()) in.corrupt("trailing bytes");
    return true;
  };
  recover_state_set(dir);
  // A state kept by the other core's console would not be this one's.
  const char* other = mgba_ ? "console" : MGBA_CONSOLE_PART;
  if (state_part_exists(dir, other))
    fail("simulator: the state in " + dir + " was kept by core=" + (mgba_ ? "unicorn" : "mgba") +
         "; give that core or another folder");
  load("cable", CABLE_STATE_VERSION, [&](StateReader& in) { cable_.load(in); });
  if (mgba_) {
    // The console's state needs its cartridge in the slot first.
    const bool has_cart =
        load(MGBA_CART_PART, MGBA_CART_STATE_VERSION, [&](StateReader& in) { mgba_->insert(load_mgba_cart(in)); });
    load(MGBA_CONSOLE_PART, MGBA_STATE_VERSION, [&](StateReader& in) { console_->load(in); });
    cycles_at_start_ = mgba_->cycles();
    turnaround_at_start_ = mgba_->turnaround_cycles();
    cable_.restart_clock();
    return has_cart;
  }
  load("console", CONSOLE_STATE_VERSION, [&](StateReader& in) { console_->load(in); });
  const bool has_cart =
      load("cartridge", CART_STATE_VERSION, [&](StateReader& in) { set_cart(load_cart(in, log_)); });
  instructions_at_start_ = unicorn_->instructions();
  cable_.restart_clock();
  return has_cart;
}

}  // namespace kartex
