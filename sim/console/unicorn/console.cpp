#include "sim/console/unicorn/console.h"

#include <algorithm>
#include <cstring>

#include "common/failure.h"
#include "sim/console/bios_loader.h"
#include "sim/console/unicorn/access_site.h"
#include "sim/console/unicorn/console_dma.h"

namespace kartex {

namespace {

constexpr std::uint32_t ENTRY_EWRAM = mem::EWRAM;
constexpr std::uint32_t ENTRY_CART = mem::CART_ROM;
// An odd address the PC never holds: uc_emu_start runs until stopped.
constexpr std::uint64_t RUN_FOREVER = 0xFFFFFFFF;
// Alignment is checked wherever a program can reach memory.
constexpr std::uint64_t CHECKED_BEGIN = mem::EWRAM, CHECKED_END = mem::CART_SAVE_END - 1;

// The display: 228 lines of 1232 cycles, vertical blank from line 160.
constexpr std::uint64_t FRAME_CYCLES = 228 * 1232;
constexpr std::uint64_t VBLANK_CYCLES = 160 * 1232;

// The BIOS's IRQ return at bios::IRQ_RETURN: ldmfd sp!, {r0-r3, r12, lr};
// subs pc, lr, #4.
constexpr std::uint32_t BIOS_IRQ_RETURN_CODE[2] = {0xE8BD500F, 0xE25EF004};

enum ArmException : std::uint32_t { EXC_UNDEFINED = 1, EXC_SWI = 2, EXC_PREFETCH_ABORT = 3, EXC_DATA_ABORT = 4 };

const uc_arm_reg GENERAL_REGS[] = {UC_ARM_REG_R0, UC_ARM_REG_R1, UC_ARM_REG_R2,  UC_ARM_REG_R3,
                                   UC_ARM_REG_R4, UC_ARM_REG_R5, UC_ARM_REG_R6,  UC_ARM_REG_R7,
                                   UC_ARM_REG_R8, UC_ARM_REG_R9, UC_ARM_REG_R10, UC_ARM_REG_R11,
                                   UC_ARM_REG_R12};

// The modes an ARMv4T CPSR can hold: user, FIQ, IRQ, supervisor, abort,
// undefined, system.
bool valid_mode(std::uint32_t psr) {
  switch (psr & 0x1F) {
    case 0x10: case 0x11: case 0x12: case 0x13: case 0x17: case 0x1B: case 0x1F: return true;
    default: return false;
  }
}

std::string access_name(uc_mem_type type) {
  switch (type) {
    case UC_MEM_READ: case UC_MEM_READ_UNMAPPED: case UC_MEM_READ_PROT: return "read";
    case UC_MEM_WRITE: case UC_MEM_WRITE_UNMAPPED: case UC_MEM_WRITE_PROT: return "write";
    case UC_MEM_FETCH: case UC_MEM_FETCH_UNMAPPED: case UC_MEM_FETCH_PROT: return "instruction fetch";
    default: return "access";
  }
}

// Inside memory hooks the emulator has the PC of the translated block only,
// not of the instruction.
std::string block_pc(std::uint32_t pc) { return " in the code block at PC=" + hex32(pc); }

// I/O registers are placed at their own instruction: the serial port's
// arming starts a link word at once, and the timers and the port's status
// are read at that moment. The cartridge's buses, which the CPU reaches
// far more often (every word of a dump or a chip write), see the time
// after the whole block's fetches: finding each access's instruction
// there made the simulator a third slower, and a chip's busy time is long
// beside one block. Work RAM and video memory answer without looking at
// the clock.
bool placed_access(std::uint32_t addr) { return addr >> 24 == mem::IO >> 24; }
bool cart_access(std::uint32_t addr) { return addr >= mem::CART_ROM; }

// The registers inside a memory hook, as the accessing instruction sees them.
class HookRegisters final : public RegisterSource {
 public:
  explicit HookRegisters(uc_engine* uc) : uc_(uc) {}
  std::uint32_t reg(unsigned n) override {
    std::uint32_t v = 0;
    uc_reg_read(uc_, n < 13 ? GENERAL_REGS[n] : n == 13 ? UC_ARM_REG_SP : n == 14 ? UC_ARM_REG_LR : UC_ARM_REG_CPSR, &v);
    return v;
  }

 private:
  uc_engine* uc_;
};

}  // namespace

Console::Console(SimLog& log)
    : log_(log), clock_(log.clock()), io_(log), bus_(memory_, io_, log), timing_(io_) {
  if (uc_open(UC_ARCH_ARM, UC_MODE_ARM, &uc_) != UC_ERR_OK) fail("cannot start the CPU emulator");
  try {
    // The ARMv5 core is the closest model to the console's ARM7TDMI.
    if (uc_ctl_set_cpu_model(uc_, UC_CPU_ARM_946) != UC_ERR_OK) fail("cannot select the ARM946 CPU model");
    map_memory();
    add_hooks();
  } catch (...) {
    uc_close(uc_);
    throw;
  }
  io_.set_listener(this);
  std::memcpy(memory_.bios.data() + bios::IRQ_RETURN, BIOS_IRQ_RETURN_CODE, sizeof BIOS_IRQ_RETURN_CODE);
  power_on();
}

Console::~Console() { uc_close(uc_); }

void Console::map_memory() {
  struct Ram {
    std::uint32_t base;
    std::vector<std::uint8_t>& bytes;
    std::uint32_t perms;
  };
  const Ram rams[] = {
      {mem::BIOS, memory_.bios, UC_PROT_READ | UC_PROT_EXEC},
      {mem::EWRAM, memory_.ewram, UC_PROT_ALL},
      {mem::IWRAM, memory_.iwram, UC_PROT_ALL},
      {mem::PALETTE, memory_.palette, UC_PROT_ALL},
      {mem::VRAM, memory_.vram, UC_PROT_ALL},
      {mem::OAM, memory_.oam, UC_PROT_ALL},
  };
  for (const Ram& r : rams)
    if (uc_mem_map_ptr(uc_, r.base, r.bytes.size(), r.perms, r.bytes.data()) != UC_ERR_OK)
      fail("cannot map console memory at " + hex32(r.base));
  if (uc_mmio_map(uc_, mem::IO, io::SIZE, on_io_read, this, on_io_write, this) != UC_ERR_OK ||
      uc_mmio_map(uc_, mem::CART_ROM, mem::CART_ROM_END - mem::CART_ROM, on_cart_read, this,
                  on_cart_write, this) != UC_ERR_OK ||
      uc_mmio_map(uc_, mem::CART_SAVE, mem::CART_SAVE_END - mem::CART_SAVE, on_save_read, this,
                  on_save_write, this) != UC_ERR_OK)
    fail("cannot map the console's I/O and cartridge buses");
}

void Console::add_hooks() {
  uc_hook h;
  bool ok = uc_hook_add(uc_, &h, UC_HOOK_BLOCK, reinterpret_cast<void*>(on_block), this, 1, 0) == UC_ERR_OK &&
            uc_hook_add(uc_, &h, UC_HOOK_INTR, reinterpret_cast<void*>(on_interrupt), this, 1, 0) == UC_ERR_OK &&
            uc_hook_add(uc_, &h, UC_HOOK_MEM_READ | UC_HOOK_MEM_WRITE, reinterpret_cast<void*>(on_access),
                        this, CHECKED_BEGIN, CHECKED_END) == UC_ERR_OK &&
            uc_hook_add(uc_, &h, UC_HOOK_MEM_UNMAPPED | UC_HOOK_MEM_PROT,
                        reinterpret_cast<void*>(on_unmapped), this, 1, 0) == UC_ERR_OK;
  if (!ok) fail("cannot install the CPU emulator's hooks");
}

void Console::remove_cache(std::uint32_t begin, std::uint32_t end) {
  // Writes from the host side or by DMA bypass the emulator's check for
  // changed code; translated blocks of that range must go.
  uc_ctl_remove_cache(uc_, static_cast<std::uint64_t>(begin), static_cast<std::uint64_t>(end));
}

void Console::power_on() {
  io_.reset();
  waitcnt_written();
  for (auto* region : {&memory_.ewram, &memory_.iwram, &memory_.palette, &memory_.vram, &memory_.oam})
    std::fill(region->begin(), region->end(), 0);
  remove_cache(mem::EWRAM, mem::CART_ROM);
  fault_.clear();
  running_ = false;
  hung_ = false;
  stop_requested_ = false;
  irq_request_ = false;
  next_vblank_ = 0;
}

void Console::set_mode_stacks() {
  const std::uint32_t keep = cpsr() & ~0x1Fu;
  for (auto [mode, sp] : {std::pair{bios::MODE_SVC, bios::SP_SVC}, std::pair{bios::MODE_IRQ, bios::SP_IRQ}}) {
    set_reg(UC_ARM_REG_CPSR, keep | mode);
    set_reg(UC_ARM_REG_SP, sp);
    set_reg(UC_ARM_REG_LR, 0);
    set_reg(UC_ARM_REG_SPSR, 0);
  }
  set_reg(UC_ARM_REG_CPSR, bios::MODE_SYS);  // ARM state
  set_reg(UC_ARM_REG_SP, bios::SP_SYS);
  for (uc_arm_reg r : GENERAL_REGS) set_reg(r, 0);
}

void Console::boot(std::span<const std::uint8_t> image) {
  power_on();
  const std::size_t n = std::min(image.size(), memory_.ewram.size());
  std::memcpy(memory_.ewram.data(), image.data(), n);
  set_mode_stacks();
  set_reg(UC_ARM_REG_LR, 0);
  set_reg(UC_ARM_REG_PC, ENTRY_EWRAM);
  io_.set_raw(io::IME, IME_ON);
  io_.set_raw(io::IE, IRQ_VBLANK);
  io_.set_raw(io::DISPSTAT, DSTAT_VBL_IRQ);
  running_ = true;
}

void Console::boot_multiboot(std::span<const std::uint8_t> image) {
  power_on();
  const std::size_t n = std::min(image.size(), memory_.ewram.size());
  std::memcpy(memory_.ewram.data(), image.data(), n);
  // Power-on left IME, IE, DISPSTAT and WAITCNT at 0, as the reset does.
  io_.set_raw(io::DISPCNT, multiboot::DISPCNT_AFTER_RESET);
  set_mode_stacks();  // system mode, I and F clear
  set_reg(UC_ARM_REG_LR, 0);
  set_reg(UC_ARM_REG_PC, multiboot::ENTRY);
  running_ = true;
}

void Console::check_vblank(SimTime now) {
  const SimTime frame = simtime::cycles(FRAME_CYCLES);
  if (now < next_vblank_) return;
  if (next_vblank_ != 0 && (io_.raw(io::DISPSTAT) & DSTAT_VBL_IRQ)) io_.raise_irq(IRQ_VBLANK);
  next_vblank_ = now / frame * frame + simtime::cycles(VBLANK_CYCLES);
  if (next_vblank_ <= now) next_vblank_ += frame;
}

void Console::enter_irq() {
  // The CPU: IRQ mode with IRQs masked, ARM state, the interrupted state in
  // SPSR and the return address + 4 in LR. The BIOS: r0-r3, r12 and LR on
  // the IRQ stack, r0 = 0x04000000, then the program's handler with LR at
  // the BIOS's return code.
  std::uint32_t handler = 0;
  peek(bios::IRQ_VECTOR, {reinterpret_cast<std::uint8_t*>(&handler), 4});
  const bool in_ram = (handler >= mem::EWRAM && handler < mem::EWRAM + mem::EWRAM_BYTES) ||
                      (handler >= mem::IWRAM && handler < mem::IWRAM + mem::IWRAM_BYTES);
  const std::uint32_t ret = pc(), old = cpsr();
  if (!in_ram) {
    set_fault("interrupt (IE=" + hex32(io_.raw(io::IE)) + " IF=" + hex32(io_.raw(io::IF)) +
              ", IME on, IRQs unmasked) at PC=" + hex32(ret) + ": the handler address at " +
              hex32(bios::IRQ_VECTOR) + " is " + hex32(handler) + ", where no program is");
    return;
  }
  std::uint32_t saved[6];
  for (int i = 0; i < 4; ++i) saved[i] = reg(GENERAL_REGS[i]);
  saved[4] = reg(UC_ARM_REG_R12);
  set_reg(UC_ARM_REG_CPSR, (old & ~0xFFu) | bios::PSR_IRQ_MASKED | bios::MODE_IRQ);
  set_reg(UC_ARM_REG_SPSR, old);
  saved[5] = ret + 4;
  const std::uint32_t sp = reg(UC_ARM_REG_SP) - sizeof saved;
  if (!poke(sp, {reinterpret_cast<const std::uint8_t*>(saved), sizeof saved})) {
    set_fault("interrupt with the IRQ stack pointer at " + hex32(sp + sizeof saved) + ", outside work RAM");
    return;
  }
  set_reg(UC_ARM_REG_SP, sp);
  set_reg(UC_ARM_REG_R0, mem::IO);
  set_reg(UC_ARM_REG_LR, bios::IRQ_RETURN);
  set_reg(UC_ARM_REG_PC, handler & ~3u);
  // The entry and the BIOS's saving take about as long as a function call.
  clock_.advance(simtime::cycles(3 + 10));
}

RunEnd Console::run(std::uint64_t budget, SimTime deadline) {
  if (!fault_.empty()) return RunEnd::Fault;
  if (!running_) return RunEnd::Idle;
  // A hung CPU spins through any budget without a link exchange.
  if (hung_) {
    clock_.reach(deadline == ~SimTime{0} ? clock_.now() : deadline);
    return RunEnd::Budget;
  }
  if (clock_.now() >= deadline) return RunEnd::Deadline;
  stop_requested_ = false;
  budget_spent_ = false;
  budget_ = budget;
  deadline_ = deadline;
  since_exchange_ = 0;
  for (;;) {
    // An even PC would run Thumb code as ARM: pass the state in bit 0.
    const std::uint64_t start = pc() | ((cpsr() & bios::PSR_THUMB) ? 1 : 0);
    const uc_err err = uc_emu_start(uc_, start, RUN_FOREVER, 0, 0);
    clock_.advance(simtime::cycles(fetches_.rest()));
    if (!fault_.empty()) return RunEnd::Fault;
    if (irq_request_ && err == UC_ERR_OK) {
      irq_request_ = false;
      enter_irq();
      if (!fault_.empty()) return RunEnd::Fault;
    }
    if (err != UC_ERR_OK) {
      const std::uint32_t at = pc();
      if (err == UC_ERR_INSN_INVALID)
        set_fault("undefined instruction, PC=" + hex32(at));
      else if (err == UC_ERR_FETCH_PROT && at >= mem::CART_ROM && at < mem::CART_SAVE_END)
        set_fault("the program jumped into the cartridge at PC=" + hex32(at) +
                  "; the simulator runs code from RAM only");
      else
        set_fault(std::string(uc_strerror(err)) + ", PC=" + hex32(at));
      return RunEnd::Fault;
    }
    if (budget_spent_) return clock_.now() >= deadline_ ? RunEnd::Deadline : RunEnd::Budget;
    if (stop_requested_) return RunEnd::Stopped;
  }
}

std::uint32_t Console::link_exchange(std::uint32_t incoming, SimTime done) {
  link_done_ = done;
  const std::uint32_t outgoing = io_.link_outgoing();
  io_.link_complete(incoming);
  since_exchange_ = 0;
  return outgoing;
}

void Console::set_fault(std::string what) {
  if (!fault_.empty()) return;  // the first fault is the one that matters
  fault_ = "console fault: " + what;
  log_.note("console", fault_);
}

bool Console::peek(std::uint32_t addr, std::span<std::uint8_t> out) {
  auto bytes = memory_.ram(addr, out.size());
  if (bytes.size() != out.size()) return false;
  std::copy(bytes.begin(), bytes.end(), out.begin());
  return true;
}

bool Console::poke(std::uint32_t addr, std::span<const std::uint8_t> in) {
  auto bytes = memory_.ram(addr, in.size());
  if (bytes.size() != in.size()) return false;
  std::copy(in.begin(), in.end(), bytes.begin());
  remove_cache(addr, static_cast<std::uint32_t>(addr + in.size()));
  return true;
}

std::uint32_t Console::reg(uc_arm_reg which) {
  std::uint32_t v = 0;
  uc_reg_read(uc_, which, &v);
  return v;
}

void Console::set_reg(uc_arm_reg which, std::uint32_t value) { uc_reg_write(uc_, which, &value); }

std::uint32_t Console::pc() { return reg(UC_ARM_REG_PC); }
std::uint32_t Console::cpsr() { return reg(UC_ARM_REG_CPSR); }

std::uint32_t Console::banked_sp(std::uint32_t mode) {
  const std::uint32_t saved = cpsr();
  set_reg(UC_ARM_REG_CPSR, (saved & ~0x1Fu) | mode);
  const std::uint32_t sp = reg(UC_ARM_REG_SP);
  set_reg(UC_ARM_REG_CPSR, saved);
  return sp;
}

// ---- I/O listener ----

void Console::dma_started(unsigned channel) {
  cart_next_ = 0;
  const DmaResult r = run_dma(channel, io_, bus_, timing_, clock_);
  clock_.take_busy_hint();  // a copy that met a busy chip copied its status; it did not wait
  if (r.dest_high > r.dest_low && r.dest_low < mem::CART_ROM) remove_cache(r.dest_low, r.dest_high);
}

void Console::waitcnt_written() {
  // The save window's access time, which a FLASH save part may be too slow for.
  static constexpr unsigned SAVE_WAITS[4] = {4, 3, 2, 8};
  if (CartBus* cart = bus_.cart()) cart->set_save_wait(SAVE_WAITS[io_.raw(io::WAITCNT) & 3]);
}

void Console::serial_started() {
  if (peer_) peer_->console_armed();
}

void Console::serial_so_raised_idle() {
  if (peer_) peer_->console_raised_so_idle();
}

// ---- BIOS ----

void Console::soft_reset() {
  const std::uint8_t flag = memory_.iwram[bios::RESET_FLAG - mem::IWRAM];
  std::fill(memory_.iwram.begin() + (bios::CLEARED_BEGIN - mem::IWRAM), memory_.iwram.end(), 0);
  set_mode_stacks();
  set_reg(UC_ARM_REG_PC, flag ? ENTRY_EWRAM : ENTRY_CART);
}

// ---- Unicorn callbacks ----

void Console::reach_access(std::uint32_t addr, bool write) {
  // The block's code is in RAM (the CPU runs nowhere else). A block
  // transfer or a swap makes several accesses; a single load or store one,
  // so the next access is a later instruction's. An access the decoder
  // cannot place is taken to come after the whole block.
  AccessSite found;
  const auto code = memory_.ram(block_addr_, block_size_);
  if (code.size() == block_size_) {
    HookRegisters regs(uc_);
    found = access_site({code, block_addr_, block_thumb_}, site_left_ > 0 ? site_ : scan_from_, addr, write, regs);
  }
  if (!found.found()) found = {fetches_.count(), 1};
  if (found.index == site_ && site_left_ > 0) {
    --site_left_;
  } else {
    site_ = found.index;
    site_left_ = found.accesses - 1;
  }
  scan_from_ = site_ + 1;
  clock_.advance(simtime::cycles(fetches_.through(site_)));
}

void Console::on_block(uc_engine* uc, std::uint64_t addr, std::uint32_t size, void* self) {
  auto* c = static_cast<Console*>(self);
  // The block before ran to its end.
  c->clock_.advance(simtime::cycles(c->fetches_.rest()));
  if (c->stop_requested_) {
    uc_emu_stop(uc);
    return;
  }
  std::uint32_t psr = 0;
  uc_reg_read(uc, UC_ARM_REG_CPSR, &psr);
  const bool thumb = psr & bios::PSR_THUMB;
  const std::uint64_t n = std::max<std::uint64_t>(1, thumb ? size / 2 : size / 4);
  c->instructions_ += n;
  c->since_exchange_ += n;
  // Every instruction costs its opcode fetch; a block reached by a jump
  // (not by running on from the one before, as the emulator also splits
  // blocks) refills the pipeline with two more fetches. Internal cycles of
  // loads are added with their data access; those of multiplies and of
  // shifts by a register are not counted. The fetches are charged as the
  // block's accesses to I/O are reached, and all of them at its first
  // access to the cartridge; the interrupt and the run's end look at the
  // block's end.
  const auto at = static_cast<std::uint32_t>(addr);
  const bool jumped = at != c->next_pc_;
  c->next_pc_ = at + size;
  c->fetches_.enter(static_cast<std::uint32_t>(n), c->timing_.fetch(at, thumb), jumped ? 2 : 0);
  c->block_addr_ = at;
  c->block_size_ = size;
  c->block_thumb_ = thumb;
  c->site_ = c->site_left_ = c->scan_from_ = 0;
  const SimTime block_end = c->clock_.now() + simtime::cycles(c->fetches_.pending());
  c->cart_next_ = 0;
  c->check_vblank(block_end);
  if (!(psr & bios::PSR_IRQ_MASKED) && c->io_.irq_pending()) {
    c->irq_request_ = true;
    uc_emu_stop(uc);
    return;
  }
  if (c->since_exchange_ > c->budget_ || block_end >= c->deadline_) {
    c->budget_spent_ = true;
    uc_emu_stop(uc);
  }
}

void Console::on_interrupt(uc_engine* uc, std::uint32_t intno, void* self) {
  auto* c = static_cast<Console*>(self);
  const std::uint32_t pc = c->pc();  // already past the instruction
  const bool thumb = c->cpsr() & bios::PSR_THUMB;
  const std::uint32_t at = pc - (thumb ? 2 : 4);
  if (intno != EXC_SWI) {
    c->set_fault((intno == EXC_UNDEFINED ? std::string("undefined instruction")
                                         : "CPU exception " + std::to_string(intno)) +
                 ", PC=" + hex32(at));
    uc_emu_stop(uc);
    return;
  }
  std::uint8_t number = 0;
  if (thumb) {
    std::uint16_t insn = 0;
    uc_mem_read(uc, at, &insn, 2);
    number = static_cast<std::uint8_t>(insn & 0xFF);
  } else {
    std::uint32_t insn = 0;
    uc_mem_read(uc, at, &insn, 4);
    number = static_cast<std::uint8_t>(insn >> 16);
  }
  if (number == bios::SWI_SOFT_RESET) {
    c->soft_reset();
    return;
  }
  c->log_.note("BIOS", "call " + hex32(number) + " at PC=" + hex32(at) +
                           " is not emulated; the program continues after it");
}

void Console::on_access(uc_engine* uc, uc_mem_type type, std::uint64_t addr, int size,
                        std::int64_t, void* self) {
  auto* c = static_cast<Console*>(self);
  if ((addr & static_cast<std::uint64_t>(size - 1)) == 0) {
    // The data access, and for a load the internal cycle that follows it.
    const auto at = static_cast<std::uint32_t>(addr);
    if (placed_access(at))
      c->reach_access(at, type == UC_MEM_WRITE);
    else if (cart_access(at))
      c->clock_.advance(simtime::cycles(c->fetches_.rest()));
    // The serial port's registers show a transfer done only once it is.
    if (at >= mem::IO + io::SIODATA32_L && at < mem::IO + io::SIOCNT + 4) c->clock_.reach(c->link_done_);
    const bool cart = at >= mem::CART_ROM && at < mem::CART_SAVE;
    // The ARM7TDMI's single loads and stores each start a non-sequential
    // access; only the words of a block transfer (LDM, STM) follow on at the
    // next address, and they are the only 32-bit accesses that do.
    const bool burst = cart && size == 4 && at == c->cart_next_;
    const unsigned cycles = c->timing_.access(at, static_cast<unsigned>(size), burst) +
                            (type == UC_MEM_READ ? 1 : 0);
    c->clock_.advance(simtime::cycles(cycles));
    c->cart_next_ = cart ? at + static_cast<std::uint32_t>(size) : 0;
    return;
  }
  c->set_fault("unaligned " + std::to_string(size * 8) + "-bit " + access_name(type) + " at " +
               hex32(static_cast<std::uint32_t>(addr)) + block_pc(c->pc()));
  uc_emu_stop(uc);
}

bool Console::on_unmapped(uc_engine*, uc_mem_type type, std::uint64_t addr, int, std::int64_t,
                          void* self) {
  auto* c = static_cast<Console*>(self);
  const bool fetch = type == UC_MEM_FETCH_UNMAPPED || type == UC_MEM_FETCH_PROT;
  if (fetch && addr >= mem::CART_ROM && addr < mem::CART_SAVE_END) return false;  // named in run()
  const bool prot = type == UC_MEM_WRITE_PROT || type == UC_MEM_READ_PROT || type == UC_MEM_FETCH_PROT;
  c->set_fault(access_name(type) + (prot ? " of protected address " : " of unmapped address ") +
               hex32(static_cast<std::uint32_t>(addr)) + block_pc(c->pc()));
  return false;
}

std::uint64_t Console::on_io_read(uc_engine*, std::uint64_t offset, unsigned size, void* self) {
  return static_cast<Console*>(self)->bus_.read(mem::IO + static_cast<std::uint32_t>(offset), size);
}

void Console::on_io_write(uc_engine*, std::uint64_t offset, unsigned size, std::uint64_t value,
                          void* self) {
  static_cast<Console*>(self)->bus_.write(mem::IO + static_cast<std::uint32_t>(offset), size,
                                          static_cast<std::uint32_t>(value));
}

std::uint64_t Console::on_cart_read(uc_engine*, std::uint64_t offset, unsigned size, void* self) {
  auto* c = static_cast<Console*>(self);
  const std::uint32_t v = c->bus_.read(mem::CART_ROM + static_cast<std::uint32_t>(offset), size);
  c->clock_.pass_busy_poll();
  return v;
}

void Console::on_cart_write(uc_engine*, std::uint64_t offset, unsigned size, std::uint64_t value,
                            void* self) {
  static_cast<Console*>(self)->bus_.write(mem::CART_ROM + static_cast<std::uint32_t>(offset), size,
                                          static_cast<std::uint32_t>(value));
}

std::uint64_t Console::on_save_read(uc_engine*, std::uint64_t offset, unsigned size, void* self) {
  auto* c = static_cast<Console*>(self);
  const std::uint32_t v = c->bus_.read(mem::CART_SAVE + static_cast<std::uint32_t>(offset), size);
  c->clock_.pass_busy_poll();
  return v;
}

void Console::on_save_write(uc_engine*, std::uint64_t offset, unsigned size, std::uint64_t value,
                            void* self) {
  static_cast<Console*>(self)->bus_.write(mem::CART_SAVE + static_cast<std::uint32_t>(offset), size,
                                          static_cast<std::uint32_t>(value));
}

// ---- State ----

void Console::save(StateWriter& out) {
  clock_.reach(link_done_);
  out.u8(running_ ? 1 : 0);
  out.u8(hung_ ? 1 : 0);
  out.str(fault_);
  out.u64(instructions_);
  out.u64(clock_.now());
  for (auto* region : {&memory_.ewram, &memory_.iwram, &memory_.palette, &memory_.vram, &memory_.oam})
    out.blob(*region);
  io_.save(out);
  const std::uint32_t saved_cpsr = cpsr();
  for (std::uint32_t mode : STATE_MODES) {
    set_reg(UC_ARM_REG_CPSR, (saved_cpsr & ~0x1Fu) | mode);
    out.u32(reg(UC_ARM_REG_SP));
    out.u32(reg(UC_ARM_REG_LR));
    out.u32(mode == bios::MODE_SYS ? 0 : reg(UC_ARM_REG_SPSR));
  }
  set_reg(UC_ARM_REG_CPSR, saved_cpsr);
  for (uc_arm_reg r : GENERAL_REGS) out.u32(reg(r));
  out.u32(reg(UC_ARM_REG_SP));
  out.u32(reg(UC_ARM_REG_LR));
  out.u32(pc());
  out.u32(saved_cpsr);
  out.u32(reg(UC_ARM_REG_SPSR));
}

void Console::load(StateReader& in) {
  running_ = in.u8() != 0;
  hung_ = in.u8() != 0;
  fault_ = in.str();
  // The fault is shown to the user as the answer of a later status poll.
  if (fault_.size() > 1000 ||
      !std::all_of(fault_.begin(), fault_.end(), [](unsigned char c) { return c >= 0x20 && c < 0x7F; }))
    in.corrupt("the console's fault is not a line of text");
  instructions_ = in.u64();
  clock_.set(in.u64());
  for (auto* region : {&memory_.ewram, &memory_.iwram, &memory_.palette, &memory_.vram, &memory_.oam})
    in.blob_into(*region);
  io_.load(in);
  waitcnt_written();
  for (std::uint32_t mode : STATE_MODES) {
    set_reg(UC_ARM_REG_CPSR, mode);
    set_reg(UC_ARM_REG_SP, in.u32());
    set_reg(UC_ARM_REG_LR, in.u32());
    const std::uint32_t spsr = in.u32();
    if (mode != bios::MODE_SYS) set_reg(UC_ARM_REG_SPSR, spsr);
  }
  std::uint32_t general[13];
  for (std::uint32_t& v : general) v = in.u32();
  const std::uint32_t sp = in.u32(), lr = in.u32(), pc_value = in.u32(), psr = in.u32(), spsr = in.u32();
  if (!valid_mode(psr)) in.corrupt("CPSR " + hex32(psr) + " holds no ARM processor mode");
  set_reg(UC_ARM_REG_CPSR, psr);
  for (std::size_t i = 0; i < 13; ++i) set_reg(GENERAL_REGS[i], general[i]);
  set_reg(UC_ARM_REG_SP, sp);
  set_reg(UC_ARM_REG_LR, lr);
  set_reg(UC_ARM_REG_PC, pc_value);
  if ((psr & 0x1F) != bios::MODE_SYS && (psr & 0x1F) != 0x10) set_reg(UC_ARM_REG_SPSR, spsr);
  remove_cache(mem::EWRAM, mem::CART_ROM);
  stop_requested_ = false;
  fetches_ = {};
  next_vblank_ = 0;
  irq_request_ = false;
}

Screen Console::screen() const {
  VideoRegisters regs;
  regs.dispcnt = io_.raw(io::DISPCNT);
  for (unsigned bg = 0; bg < 4; ++bg) {
    regs.bgcnt[bg] = io_.raw(io::BG0CNT + 2 * bg);
    regs.hofs[bg] = io_.raw(io::BG0HOFS + 4 * bg) & 0x1FF;
    regs.vofs[bg] = io_.raw(io::BG0HOFS + 4 * bg + 2) & 0x1FF;
  }
  return render_screen(regs, std::span(memory_.palette).first(mem::PALETTE_BYTES), memory_.vram);
}

}  // namespace kartex

// LeakSanitizer: the CPU emulator library (Unicorn 2.0.1) keeps a small
// bitmap per page of changed code that uc_close does not free; it is the
// library's, not ours.
extern "C" const char* __lsan_default_suppressions() { return "leak:libunicorn.so\n"; }
