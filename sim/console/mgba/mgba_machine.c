#include "sim/console/mgba/mgba_machine.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <mgba/core/config.h>
#include <mgba/core/core.h>
#include <mgba/core/log.h>
#include <mgba/gba/core.h>
#include <mgba/internal/arm/arm.h>
#include <mgba/internal/arm/isa-inlines.h>
#include <mgba/internal/gba/cart/gpio.h>
#include <mgba/internal/gba/gba.h>
#include <mgba/internal/gba/io.h>
#include <mgba/internal/gba/memory.h>
#include <mgba/internal/gba/savedata.h>
#include <mgba/internal/gba/sio.h>
#include <mgba-util/vfs.h>

#include "sim/console/mgba/mgba_serial.h"

enum {
  EWRAM_BASE = 0x02000000,
  EWRAM_SIZE = 0x40000,
  IWRAM_BASE = 0x03000000,
  IWRAM_SIZE = 0x8000,
  VRAM_SIZE = 0x18000,
  MULTIBOOT_ENTRY_OFFSET = 0xC0,
  STATE_MAGIC = 0x4B584D31, /* our part of a state: "KXM1" */
};

struct KxKeys {
  struct mKeyCallback d; /* first: the library calls back with its address */
  struct KxMachine* m;
};

struct KxClock {
  struct mRTCSource d; /* first: the library calls back with its address */
  int64_t (*unix_time)(void* context);
  void* context;
};

struct KxMachine {
  struct mCore* core;
  struct GBA* gba;
  struct ARMCore* cpu;
  struct KxMachineHooks hooks;
  struct KxSerial serial;
  struct KxKeys keys;
  struct KxClock clock;
  uint8_t* rom;
  size_t rom_size;
  enum KxSave save;
  uint64_t cycles_before; /* cycles of the power-ons before the current one */
  int restoring;          /* a state is loading */
};

/* The library logs through one process-wide logger; it goes to the machine
 * that runs on this thread. */
static _Thread_local struct KxMachine* running_machine;
static struct mLogger logger;

/* Whether the library's complaint is about the cartridge bus: reads past
 * the ROM's end, accesses of an empty save socket or EEPROM window. The
 * agent probes for its chips there, and the console answers open bus, which
 * is no error of the program. */
static int cartridge_probe(const char* text) {
  const char* hex = strstr(text, "0x");
  if (strstr(text, "non-existent SRAM") || strstr(text, "Out of bounds ROM")) return 1;
  /* A FLASH chip ignores a plain write, which is how a program tells it
   * from SRAM. */
  if (strstr(text, "Bad flash write")) return 1;
  if (!hex) return 0;
  const unsigned long addr = strtoul(hex + 2, NULL, 16);
  return addr >= 0x08000000ul && addr < 0x10000000ul;
}

static void on_log(struct mLogger* self, int category, enum mLogLevel level, const char* format, va_list args) {
  (void) self;
  struct KxMachine* m = running_machine;
  enum KxLogKind kind;
  switch (level) {
    case mLOG_FATAL: kind = KX_LOG_FAULT; break;
    case mLOG_GAME_ERROR: kind = KX_LOG_MISUSE; break;
    case mLOG_ERROR: kind = KX_LOG_NOTE; break;
    default: return;
  }
  if (!m || !m->hooks.log) return;
  char text[256];
  vsnprintf(text, sizeof text, format, args);
  if (kind == KX_LOG_MISUSE && cartridge_probe(text)) return;
  /* Restoring the DMA registers half by half passes through addresses no
   * program gave. */
  if (kind == KX_LOG_MISUSE && m->restoring) return;
  m->hooks.log(m->hooks.context, kind, mLogCategoryName(category), text);
}

static void enter(struct KxMachine* m) {
  running_machine = m;
  if (!logger.log) {
    logger.log = on_log;
    logger.filter = NULL;
    mLogSetDefaultLogger(&logger);
  }
}

static uint16_t read_keys(struct mKeyCallback* callback) {
  struct KxMachine* m = ((struct KxKeys*) callback)->m;
  return m->hooks.keys ? m->hooks.keys(m->hooks.context) : 0;
}

static time_t clock_unix_time(struct mRTCSource* source) {
  struct KxClock* clock = (struct KxClock*) source;
  return (time_t) clock->unix_time(clock->context);
}

/* After a power-on or a state: the clock's device in the GPIO port, with
 * its time from the simulated hardware clock. */
static void attach_clock(struct KxMachine* m) {
  if (!m->clock.unix_time) return;
  if (!(m->gba->memory.hw.devices & HW_RTC)) GBAHardwareInitRTC(&m->gba->memory.hw);
  m->gba->rtcSource = &m->clock.d;
}

void kx_machine_set_clock(struct KxMachine* m, int64_t (*unix_time)(void* context), void* context) {
  memset(&m->clock, 0, sizeof m->clock);
  m->clock.d.unixTime = clock_unix_time;
  m->clock.unix_time = unix_time;
  m->clock.context = context;
}

static void serial_armed(void* context) {
  struct KxMachine* m = context;
  if (m->hooks.armed) m->hooks.armed(m->hooks.context);
}

static void serial_so_idle(void* context) {
  struct KxMachine* m = context;
  if (m->hooks.so_idle) m->hooks.so_idle(m->hooks.context);
}

static void serial_misuse(void* context, const char* text) {
  struct KxMachine* m = context;
  if (m->hooks.log) m->hooks.log(m->hooks.context, KX_LOG_MISUSE, "SIO", text);
}

struct KxMachine* kx_machine_new(const struct KxMachineHooks* hooks) {
  struct KxMachine* m = calloc(1, sizeof *m);
  if (!m) return NULL;
  enter(m);
  m->hooks = *hooks;
  m->core = GBACoreCreate();
  if (!m->core || !m->core->init(m->core)) {
    free(m);
    return NULL;
  }
  mCoreInitConfig(m->core, NULL);
  m->gba = m->core->board;
  m->cpu = m->core->cpu;
  kx_serial_init(&m->serial, m, serial_armed, serial_misuse, serial_so_idle);
  m->keys.d.readKeys = read_keys;
  m->keys.d.requireOpposingDirections = false;
  m->keys.m = m;
  kx_serial_attach(&m->serial, m->gba);
  return m;
}

void kx_machine_free(struct KxMachine* m) {
  if (!m) return;
  enter(m);
  mCoreConfigDeinit(&m->core->config);
  m->core->deinit(m->core);
  free(m->rom);
  if (running_machine == m) running_machine = NULL;
  free(m);
}

static enum SavedataType library_type(enum KxSave save) {
  switch (save) {
    case KX_SAVE_SRAM_32K: return SAVEDATA_SRAM;
    case KX_SAVE_FLASH_64K: return SAVEDATA_FLASH512;
    case KX_SAVE_FLASH_128K: return SAVEDATA_FLASH1M;
    case KX_SAVE_EEPROM_512: return SAVEDATA_EEPROM512;
    case KX_SAVE_EEPROM_8K: return SAVEDATA_EEPROM;
    case KX_SAVE_NONE: break;
  }
  return SAVEDATA_FORCE_NONE;
}

int kx_machine_insert(struct KxMachine* m, const uint8_t* rom, size_t rom_size, enum KxSave save,
                      const uint8_t* save_image, size_t save_size) {
  enter(m);
  m->core->unloadROM(m->core);
  free(m->rom);
  m->rom = malloc(rom_size ? rom_size : 1);
  if (!m->rom) return 0;
  memcpy(m->rom, rom, rom_size);
  m->rom_size = rom_size;
  if (!m->core->loadROM(m->core, VFileFromConstMemory(m->rom, rom_size))) return 0;
  m->save = save;
  /* The chip's bytes live in a memory file the library owns. */
  struct VFile* chip = VFileMemChunk(save_image, save_image ? save_size : 0);
  if (!chip || !m->core->loadSave(m->core, chip)) return 0;
  kx_machine_power_on(m);
  return 1;
}

void kx_machine_power_on(struct KxMachine* m) {
  enter(m);
  m->cycles_before = kx_machine_cycles(m);
  m->core->reset(m->core);
  /* The library would guess the save chip from the first accesses; the
   * cartridge has the one it has. */
  GBASavedataForceType(&m->gba->memory.savedata, library_type(m->save));
  /* Every cycle counts: no skipping of loops the library finds idle. */
  m->gba->idleOptimization = IDLE_LOOP_IGNORE;
  m->gba->keyCallback = &m->keys.d;
  kx_serial_attach(&m->serial, m->gba);
  attach_clock(m);
}

void kx_machine_boot(struct KxMachine* m, const uint8_t* image, size_t size) {
  kx_machine_power_on(m);
  memcpy(m->gba->memory.wram, image, size < EWRAM_SIZE ? size : EWRAM_SIZE);
  /* The reset left the CPU in system mode, ARM state, with the BIOS's
   * stacks; the boot loader jumps to the image. */
  m->cpu->gprs[ARM_PC] = EWRAM_BASE;
  ARMWritePC(m->cpu);
  GBAIOWrite(m->gba, REG_IME, 1);
  GBAIOWrite(m->gba, REG_IE, 1 << GBA_IRQ_VBLANK);
  GBAIOWrite(m->gba, REG_DISPSTAT, 0x0008);
  GBAIOWrite8(m->gba, REG_POSTFLG, 1);
}

void kx_machine_boot_multiboot(struct KxMachine* m, const uint8_t* image, size_t size) {
  kx_machine_power_on(m);
  memcpy(m->gba->memory.wram, image, size < EWRAM_SIZE ? size : EWRAM_SIZE);
  GBAIOWrite(m->gba, REG_IME, 0);
  GBAIOWrite(m->gba, REG_IE, 0);
  GBAIOWrite(m->gba, REG_DISPSTAT, 0);
  GBAIOWrite(m->gba, REG_WAITCNT, 0);
  GBAIOWrite(m->gba, REG_DISPCNT, 0x0080);
  GBAIOWrite8(m->gba, REG_POSTFLG, 1);
  /* RegisterRamReset 0xDE leaves the SIO registers alone: the port stays in
   * the normal mode the transfer came in, not in general-purpose mode */
  GBAIOWrite(m->gba, REG_RCNT, 0);
  m->cpu->cpsr.i = 0;
  m->cpu->cpsr.f = 0;
  m->cpu->gprs[ARM_PC] = EWRAM_BASE + MULTIBOOT_ENTRY_OFFSET;
  ARMWritePC(m->cpu);
}

void kx_machine_run_slice(struct KxMachine* m) {
  enter(m);
  m->core->runLoop(m->core);
}

void kx_machine_stop_soon(struct KxMachine* m) { m->cpu->nextEvent = m->cpu->cycles; }

uint64_t kx_machine_cycles(const struct KxMachine* m) {
  return m->cycles_before + mTimingGlobalTime(&m->gba->timing);
}

uint32_t kx_machine_pc(const struct KxMachine* m) {
  /* The register runs ahead of the instruction by the prefetch. */
  const int thumb = m->cpu->executionMode == MODE_THUMB;
  return (uint32_t) m->cpu->gprs[ARM_PC] - (thumb ? 2u : 4u);
}

int kx_serial_armed(const struct KxMachine* m) { return m->serial.waiting; }

uint32_t kx_serial_exchange(struct KxMachine* m, uint32_t incoming, uint32_t delay) {
  return kx_serial_clock_word(&m->serial, incoming, delay);
}

uint64_t kx_serial_turnaround(const struct KxMachine* m) { return m->serial.turnaround; }

uint16_t kx_machine_io(const struct KxMachine* m, uint32_t offset) {
  if (offset == REG_SIOCNT) return m->gba->sio.siocnt;
  return m->gba->memory.io[(offset & (SIZE_IO - 2)) >> 1];
}

const uint8_t* kx_machine_palette(const struct KxMachine* m) { return (const uint8_t*) m->gba->video.palette; }
const uint8_t* kx_machine_vram(const struct KxMachine* m) { return (const uint8_t*) m->gba->video.vram; }

uint8_t* kx_machine_ram(struct KxMachine* m, uint32_t addr, size_t size) {
  if (addr >= EWRAM_BASE && size <= EWRAM_SIZE && addr - EWRAM_BASE <= EWRAM_SIZE - size)
    return (uint8_t*) m->gba->memory.wram + (addr - EWRAM_BASE);
  if (addr >= IWRAM_BASE && size <= IWRAM_SIZE && addr - IWRAM_BASE <= IWRAM_SIZE - size)
    return (uint8_t*) m->gba->memory.iwram + (addr - IWRAM_BASE);
  return NULL;
}

const uint8_t* kx_machine_save_data(const struct KxMachine* m, size_t* size) {
  *size = m->save == KX_SAVE_NONE ? 0 : GBASavedataSize(&m->gba->memory.savedata);
  return m->gba->memory.savedata.data;
}

/* Our part after the library's: magic, cycles before this power-on (8),
 * serial flags, the word in flight and the cycles it still takes. */
enum { OUR_STATE_BYTES = 4 + 8 + 4 + 4 + 4 };

static void put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = (uint8_t) (v >> (8 * i));
}
static uint32_t get32(const uint8_t* p) {
  return (uint32_t) p[0] | (uint32_t) p[1] << 8 | (uint32_t) p[2] << 16 | (uint32_t) p[3] << 24;
}

size_t kx_machine_state_size(const struct KxMachine* m) { return m->core->stateSize(m->core) + OUR_STATE_BYTES; }

void kx_machine_save_state(struct KxMachine* m, uint8_t* out) {
  enter(m);
  const size_t theirs = m->core->stateSize(m->core);
  m->core->saveState(m->core, out);
  uint8_t* p = out + theirs;
  put32(p, STATE_MAGIC);
  put32(p + 4, (uint32_t) m->cycles_before);
  put32(p + 8, (uint32_t) (m->cycles_before >> 32));
  put32(p + 12, (uint32_t) (m->serial.waiting | m->serial.moving << 1));
  put32(p + 16, m->serial.incoming);
  put32(p + 20, kx_serial_remaining(&m->serial));
}

int kx_machine_load_state(struct KxMachine* m, const uint8_t* in, size_t size) {
  enter(m);
  const size_t theirs = m->core->stateSize(m->core);
  if (size != theirs + OUR_STATE_BYTES) return 0;
  const uint8_t* p = in + theirs;
  if (get32(p) != STATE_MAGIC) return 0;
  /* Restoring SIOCNT must not start a transfer. */
  m->serial.quiet = 1;
  m->restoring = 1;
  const bool ok = m->core->loadState(m->core, in);
  m->restoring = 0;
  m->serial.quiet = 0;
  if (!ok) return 0;
  m->gba->idleOptimization = IDLE_LOOP_IGNORE;
  m->gba->keyCallback = &m->keys.d;
  attach_clock(m);
  m->cycles_before = (uint64_t) get32(p + 4) | (uint64_t) get32(p + 8) << 32;
  const uint32_t flags = get32(p + 12);
  m->serial.waiting = (int) (flags & 1);
  m->serial.moving = (int) ((flags >> 1) & 1);
  m->serial.incoming = get32(p + 16);
  kx_serial_resume(&m->serial, get32(p + 20));
  return 1;
}

static int64_t no_time(void* context) {
  (void) context;
  return 0;
}

int kx_read_clock_record(enum KxSave save, const uint8_t* file, size_t size, uint8_t time[7], uint8_t* control,
                         int64_t* registers_time) {
  static const uint8_t rom[0x400];
  const struct KxMachineHooks hooks = {0};
  struct KxMachine* m = kx_machine_new(&hooks);
  if (!m) return 0;
  kx_machine_set_clock(m, no_time, NULL);
  int ok = kx_machine_insert(m, rom, sizeof rom, save, file, size);
  if (ok) {
    struct GBACartridgeHardware* hw = &m->gba->memory.hw;
    hw->rtc.lastLatch = 0;
    hw->rtc.offset = 0;
    GBASavedataRTCRead(&m->gba->memory.savedata);
    memcpy(time, hw->rtc.time, 7);
    *control = hw->rtc.control;
    *registers_time = (int64_t) hw->rtc.lastLatch - (int64_t) hw->rtc.offset;
    ok = hw->rtc.lastLatch != 0;
  }
  kx_machine_free(m);
  return ok;
}

const char* kx_machine_layout_problem(struct KxMachine* m) {
  /* Pointers the library set up in its own structures, deep in them: if
   * the headers' layout were not the library's, these would not be found
   * where the headers say. */
  if (m->gba->cpu != m->cpu) return "struct GBA: cpu";
  if ((void*) m->cpu->master != (void*) m->gba) return "struct ARMCore: master";
  if (m->gba->sio.p != m->gba) return "struct GBASIO inside struct GBA";
  if (m->gba->video.p != m->gba) return "struct GBAVideo inside struct GBA";
  if (m->gba->timing.relativeCycles != &m->cpu->cycles) return "struct mTiming inside struct GBA";
  if (m->gba->memory.savedata.timing != &m->gba->timing) return "struct GBASavedata inside struct GBAMemory";
  if (m->serial.d.p != &m->gba->sio) return "the serial driver's link to struct GBASIO";
  return NULL;
}
