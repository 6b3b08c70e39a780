#include "sim/console/mgba/mgba_console.h"

#include <algorithm>
#include <cstring>
#include <ctime>

#include "common/failure.h"
#include "contract/hw/display.h"

namespace kartex {

namespace {

// Display registers the picture needs, as offsets in the I/O page.
constexpr std::uint32_t DISPCNT = 0x000, BG0CNT = 0x008, BG0HOFS = 0x010;
constexpr std::size_t PALETTE_BYTES = 1024, VRAM_BYTES = 96 * 1024;

}  // namespace

MgbaConsole::MgbaConsole(SimLog& log) : log_(log), clock_(log.clock()) {
  const KxMachineHooks hooks{this, on_armed, on_keys, on_log, on_so_idle};
  m_ = kx_machine_new(&hooks);
  if (!m_) fail("cannot start the emulator library's GBA core");
  if (const char* problem = kx_machine_layout_problem(m_)) {
    kx_machine_free(m_);
    fail(std::string("the emulator library's headers do not match the library (") + problem + ")");
  }
}

MgbaConsole::~MgbaConsole() { kx_machine_free(m_); }

void MgbaConsole::insert(MgbaCart cart) {
  cart_ = std::move(cart);
  if (cart_.clock_set) {
    // The library counts the clock in the host's local time.
    std::tm t{};
    t.tm_year = cart_.clock_set->year - 1900;
    t.tm_mon = cart_.clock_set->month - 1;
    t.tm_mday = cart_.clock_set->day;
    t.tm_hour = cart_.clock_set->hour;
    t.tm_min = cart_.clock_set->minute;
    t.tm_sec = cart_.clock_set->second;
    t.tm_isdst = -1;
    cart_.clock_base = static_cast<std::int64_t>(std::mktime(&t)) -
                       static_cast<std::int64_t>(clock_.now() / simtime::PER_SECOND);
    cart_.clock = true;
    cart_.clock_set.reset();
  }
  kx_machine_set_clock(m_, cart_.clock ? on_clock : nullptr, this);
  std::vector<std::uint8_t> image = cart_.save_image;
  if (cart_.save == KX_SAVE_EEPROM_512 || cart_.save == KX_SAVE_EEPROM_8K) image = swap_eeprom_blocks(image);
  if (image.empty()) image.assign(mgba_save_bytes(cart_.save), 0xFF);  // an erased chip
  const std::vector<std::uint8_t> rom = mgba_bus_rom(cart_);
  if (!kx_machine_insert(m_, rom.data(), rom.size(), cart_.save, image.empty() ? nullptr : image.data(),
                         image.size()))
    fail("the emulator library refused the cartridge's ROM or save chip");
  power_on();
}

MgbaCart MgbaConsole::cart() const {
  MgbaCart now = cart_;
  std::size_t size = 0;
  const std::uint8_t* data = kx_machine_save_data(m_, &size);
  now.save_image.assign(data, data + size);
  if (cart_.save == KX_SAVE_EEPROM_512 || cart_.save == KX_SAVE_EEPROM_8K)
    now.save_image = swap_eeprom_blocks(std::move(now.save_image));
  return now;
}

void MgbaConsole::power_on() {
  sync_clock();
  const SimTime now = clock_.now();
  kx_machine_power_on(m_);
  origin_ = now - simtime::cycles(cycles());
  running_ = false;
  hung_ = false;
  stop_requested_ = false;
  fault_.clear();
}

void MgbaConsole::boot(std::span<const std::uint8_t> image) {
  power_on();
  kx_machine_boot(m_, image.data(), image.size());
  running_ = true;
}

void MgbaConsole::boot_multiboot(std::span<const std::uint8_t> image) {
  power_on();
  kx_machine_boot_multiboot(m_, image.data(), image.size());
  running_ = true;
}

void MgbaConsole::sync_clock() {
  const SimTime t = origin_ + simtime::cycles(cycles());
  // Time that passed outside a run (the console waited for the cable)
  // moves the library's cycle 0 on.
  if (clock_.now() > t)
    origin_ += clock_.now() - t;
  else
    clock_.set(t);
}

void MgbaConsole::request_stop() {
  stop_requested_ = true;
  kx_machine_stop_soon(m_);
}

RunEnd MgbaConsole::run(std::uint64_t budget, SimTime deadline) {
  if (!fault_.empty()) return RunEnd::Fault;
  if (!running_) return RunEnd::Idle;
  sync_clock();
  // A hung CPU spins through any budget without a link exchange.
  if (hung_) {
    clock_.reach(deadline == ~SimTime{0} ? clock_.now() : deadline);
    return RunEnd::Budget;
  }
  stop_requested_ = false;
  const std::uint64_t start = cycles();
  for (;;) {
    if (clock_.now() >= deadline) return RunEnd::Deadline;
    if (cycles() - start >= budget) return RunEnd::Budget;
    kx_machine_run_slice(m_);
    sync_clock();
    if (!fault_.empty()) return RunEnd::Fault;
    if (stop_requested_) {
      stop_requested_ = false;
      return RunEnd::Stopped;
    }
  }
}

bool MgbaConsole::link_armed() const { return !hung_ && fault_.empty() && kx_serial_armed(m_); }

std::uint32_t MgbaConsole::link_exchange(std::uint32_t incoming, SimTime done) {
  sync_clock();
  const SimTime now = clock_.now();
  const SimTime left = done > now ? done - now : 0;
  const auto delay = static_cast<std::uint32_t>((left + simtime::PER_CYCLE - 1) / simtime::PER_CYCLE);
  return kx_serial_exchange(m_, incoming, delay);
}

void MgbaConsole::on_armed(void* self) {
  auto* c = static_cast<MgbaConsole*>(self);
  // The cable reads the console's time for when the word can start.
  c->sync_clock();
  if (c->peer_) c->peer_->console_armed();
}

std::int64_t MgbaConsole::on_clock(void* self) {
  auto* c = static_cast<MgbaConsole*>(self);
  const SimTime now = c->origin_ + simtime::cycles(c->cycles());
  return c->cart_.clock_base + static_cast<std::int64_t>(now / simtime::PER_SECOND);
}

void MgbaConsole::on_so_idle(void* self) {
  auto* c = static_cast<MgbaConsole*>(self);
  c->sync_clock();
  if (c->peer_) c->peer_->console_raised_so_idle();
}

std::uint16_t MgbaConsole::on_keys(void* self) {
  auto* c = static_cast<MgbaConsole*>(self);
  const std::uint16_t held = static_cast<std::uint16_t>(~c->keys_ & 0x03FF);
  return static_cast<std::uint16_t>(held | c->key_script_.held(++c->key_reads_));
}

void MgbaConsole::on_log(void* self, KxLogKind kind, const char* part, const char* text) {
  auto* c = static_cast<MgbaConsole*>(self);
  const std::string where = std::string("mGBA ") + part;
  switch (kind) {
    case KX_LOG_FAULT:
      if (c->fault_.empty()) c->fault_ = where + ": " + text + ", PC=" + hex32(c->pc());
      kx_machine_stop_soon(c->m_);
      break;
    case KX_LOG_MISUSE: c->log_.misuse(where, text); break;
    case KX_LOG_NOTE: c->log_.note(where, text); break;
  }
}

Screen MgbaConsole::screen() const {
  VideoRegisters regs;
  regs.dispcnt = io(DISPCNT);
  for (unsigned bg = 0; bg < 4; ++bg) {
    regs.bgcnt[bg] = io(BG0CNT + 2 * bg);
    regs.hofs[bg] = io(BG0HOFS + 4 * bg) & 0x1FF;
    regs.vofs[bg] = io(BG0HOFS + 4 * bg + 2) & 0x1FF;
  }
  return render_screen(regs, {kx_machine_palette(m_), PALETTE_BYTES}, {kx_machine_vram(m_), VRAM_BYTES});
}

bool MgbaConsole::peek(std::uint32_t addr, std::span<std::uint8_t> out) {
  const std::uint8_t* p = kx_machine_ram(m_, addr, out.size());
  if (!p) return false;
  std::memcpy(out.data(), p, out.size());
  return true;
}

bool MgbaConsole::poke(std::uint32_t addr, std::span<const std::uint8_t> in) {
  std::uint8_t* p = kx_machine_ram(m_, addr, in.size());
  if (!p) return false;
  std::memcpy(p, in.data(), in.size());
  return true;
}

void MgbaConsole::save(StateWriter& out) {
  sync_clock();
  out.u8(running_ ? 1 : 0);
  out.u8(hung_ ? 1 : 0);
  out.str(fault_);
  out.u64(origin_);
  out.u64(clock_.now());
  out.u16(keys_);
  std::vector<std::uint8_t> machine(kx_machine_state_size(m_));
  kx_machine_save_state(m_, machine.data());
  out.blob(machine);
}

void MgbaConsole::load(StateReader& in) {
  running_ = in.u8() != 0;
  hung_ = in.u8() != 0;
  fault_ = in.str();
  origin_ = in.u64();
  clock_.set(in.u64());
  keys_ = in.u16();
  const std::vector<std::uint8_t> machine = in.blob();
  if (!kx_machine_load_state(m_, machine.data(), machine.size()))
    in.corrupt("the emulator library refused its state");
}

std::uint16_t MgbaConsole::dispcnt() const { return io(REG_DISPCNT - MEM_IO); }

}  // namespace kartex
