#pragma once
// The console: an ARM CPU (Unicorn) on the console's memory map, with the
// BIOS calls it needs emulated. It runs only when asked, until the cable
// asks it to stop, an instruction budget runs out or the program faults.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include <unicorn/unicorn.h>

#include "sim/console/unicorn/block_fetches.h"
#include "sim/console/unicorn/console_bus.h"
#include "sim/console/unicorn/console_io.h"
#include "sim/console/sim_console.h"
#include "sim/console/unicorn/memory_timing.h"
#include "sim/clock/sim_clock.h"
#include "sim/sim_log.h"

namespace kartex {

namespace bios {
constexpr std::uint32_t RESET_FLAG = 0x03007FFA;  // non-zero: SoftReset starts EWRAM
constexpr std::uint32_t CLEARED_BEGIN = 0x03007E00, CLEARED_END = 0x03008000;
constexpr std::uint32_t SP_SVC = 0x03007FE0, SP_IRQ = 0x03007FA0, SP_SYS = 0x03007F00;
constexpr std::uint32_t MODE_IRQ = 0x12, MODE_SVC = 0x13, MODE_SYS = 0x1F;
constexpr std::uint32_t PSR_THUMB = 0x20;
constexpr std::uint8_t SWI_SOFT_RESET = 0x00;
// The IRQ handler's address a program leaves for the BIOS, and where the
// BIOS's own IRQ code returns to after calling it.
constexpr std::uint32_t IRQ_VECTOR = 0x03007FFC;
constexpr std::uint32_t IRQ_RETURN = 0x00000138;
constexpr std::uint32_t PSR_IRQ_MASKED = 0x80;
}  // namespace bios

class Console : public SimConsole, private IoListener {
 public:
  explicit Console(SimLog& log);
  ~Console() override;
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  void set_cart(CartBus* cart) {
    bus_.set_cart(cart);
    waitcnt_written();
  }
  void set_link_peer(LinkPeer* peer) override { peer_ = peer; }

  // Loads a program at 0x02000000 and starts it there in ARM state, system
  // mode, with the stacks the BIOS sets up: what the boot loader does with
  // an image received over the link. The loader leaves its vertical-blank
  // interrupt on (IME, IE and DISPSTAT) with no handler of the program's:
  // a program must turn interrupts off before the first one comes.
  void boot(std::span<const std::uint8_t> image) override;
  void boot_multiboot(std::span<const std::uint8_t> image) override;
  // Back to the boot loader, waiting for an image: no program runs. This
  // also ends a hang.
  void power_on() override;
  bool running() const override { return running_; }
  // The CPU is caught in a loop it never leaves: from now on it runs no
  // instruction the cable can see and never arms the link port again,
  // until power_on(). Kept with the state.
  void hang() override { hung_ = true; }
  bool hung() const override { return hung_; }

  // Runs until request_stop(), until `budget` instructions passed without a
  // link exchange, until the console's clock reaches `deadline`, or until a
  // fault.
  RunEnd run(std::uint64_t budget, SimTime deadline = ~SimTime{0}) override;
  void request_stop() override { stop_requested_ = true; }

  // Link port: the cable clocks one word, which is complete at `done`. The
  // CPU runs on meanwhile; its clock catches up with the transfer when it
  // next touches the port's registers.
  bool link_armed() const override { return !hung_ && io_.link_armed(); }
  std::uint32_t link_exchange(std::uint32_t incoming, SimTime done) override;

  bool peek(std::uint32_t addr, std::span<std::uint8_t> out) override;
  bool poke(std::uint32_t addr, std::span<const std::uint8_t> in) override;
  void set_keys(std::uint16_t keyinput) override { io_.set_keys(keyinput); }
  void set_key_script(const KeyScript& script) override { io_.set_key_script(script); }
  std::uint16_t dispcnt() const override { return io_.raw(io::DISPCNT); }
  // The page shown, from the display registers, palette and VRAM.
  Screen screen() const override;
  // Through the bus, as a DMA would access it.
  ConsoleBus& bus() { return bus_; }
  IoRegisters& io() { return io_; }
  const IoRegisters& io() const { return io_; }
  const ConsoleMemory& memory() const { return memory_; }

  std::uint32_t pc() override;
  std::uint32_t cpsr();
  std::uint32_t reg(uc_arm_reg which);
  void set_reg(uc_arm_reg which, std::uint32_t value);
  // The stack pointer of another mode (banked).
  std::uint32_t banked_sp(std::uint32_t mode);

  const std::string& fault() const override { return fault_; }
  std::uint64_t instructions() const { return instructions_; }
  // The console's time: what the CPU and DMA spent, and waits for the link.
  SimClock& clock() override { return clock_; }
  const SimClock& clock() const override { return clock_; }

  void save(StateWriter& out) override;
  void load(StateReader& in) override;

 private:
  static constexpr std::uint32_t STATE_MODES[3] = {bios::MODE_SVC, bios::MODE_IRQ, bios::MODE_SYS};

  void map_memory();
  void add_hooks();
  void set_fault(std::string what);
  void remove_cache(std::uint32_t begin, std::uint32_t end);
  void soft_reset();
  void set_mode_stacks();
  void enter_irq();
  void check_vblank(SimTime now);
  // Charges the fetches up to the instruction that accesses `addr`.
  void reach_access(std::uint32_t addr, bool write);

  // IoListener
  void dma_started(unsigned channel) override;
  void serial_started() override;
  void serial_so_raised_idle() override;
  void waitcnt_written() override;

  // Unicorn callbacks
  static void on_block(uc_engine* uc, std::uint64_t addr, std::uint32_t size, void* self);
  static void on_interrupt(uc_engine* uc, std::uint32_t intno, void* self);
  static void on_access(uc_engine* uc, uc_mem_type type, std::uint64_t addr, int size,
                        std::int64_t value, void* self);
  static bool on_unmapped(uc_engine* uc, uc_mem_type type, std::uint64_t addr, int size,
                          std::int64_t value, void* self);
  static void on_io_write(uc_engine* uc, std::uint64_t offset, unsigned size, std::uint64_t value,
                          void* self);
  static std::uint64_t on_io_read(uc_engine* uc, std::uint64_t offset, unsigned size, void* self);
  static void on_cart_write(uc_engine* uc, std::uint64_t offset, unsigned size,
                            std::uint64_t value, void* self);
  static std::uint64_t on_cart_read(uc_engine* uc, std::uint64_t offset, unsigned size, void* self);
  static void on_save_write(uc_engine* uc, std::uint64_t offset, unsigned size,
                            std::uint64_t value, void* self);
  static std::uint64_t on_save_read(uc_engine* uc, std::uint64_t offset, unsigned size, void* self);

  SimLog& log_;
  SimClock& clock_;
  std::uint64_t instructions_ = 0;
  ConsoleMemory memory_;
  IoRegisters io_;
  ConsoleBus bus_;
  MemoryTiming timing_;
  // The address after the last cartridge access of the current block, for
  // telling a burst (LDM, a 32-bit access) from a new access; 0 if the last
  // data access went elsewhere.
  std::uint32_t cart_next_ = 0;
  // Where the last block ended: a block starting elsewhere was jumped to.
  std::uint32_t next_pc_ = 0;
  // The block being run: its fetches, where it is, the instruction of its
  // last access to I/O and how many more accesses that
  // instruction makes, and where the next instruction to look at is.
  BlockFetches fetches_;
  std::uint32_t block_addr_ = 0, block_size_ = 0;
  bool block_thumb_ = false;
  std::uint32_t site_ = 0, site_left_ = 0, scan_from_ = 0;
  // When the last link word is complete on the wire.
  SimTime link_done_ = 0;
  // When the display next enters vertical blank (0: not worked out yet).
  SimTime next_vblank_ = 0;
  bool irq_request_ = false;
  LinkPeer* peer_ = nullptr;
  uc_engine* uc_ = nullptr;

  bool running_ = false;
  bool hung_ = false;
  bool stop_requested_ = false;
  bool budget_spent_ = false;
  std::uint64_t budget_ = 0;
  SimTime deadline_ = 0;
  std::uint64_t since_exchange_ = 0;
  std::string fault_;
};

}  // namespace kartex
