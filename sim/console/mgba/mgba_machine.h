#ifndef KARTEX_SIM_MGBA_MACHINE_H
#define KARTEX_SIM_MGBA_MACHINE_H
/* A GBA run by the emulator library (libmgba): its CPU, memory, wait
 * states, DMA, display, keypad, cartridge ROM and save chips, with the link
 * port's normal mode handed to the caller. Plain C: the library's internal
 * headers are C only. One machine per object; the library's log reaches the
 * machine that runs on the calling thread. */

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct KxMachine;

/* Save chips the library models. */
enum KxSave {
  KX_SAVE_NONE = 0,
  KX_SAVE_SRAM_32K,
  KX_SAVE_FLASH_64K,  /* maker 0x32, device 0x1B */
  KX_SAVE_FLASH_128K, /* maker 0x62, device 0x13 */
  KX_SAVE_EEPROM_512,
  KX_SAVE_EEPROM_8K,
};

/* What the library says about the program: KX_LOG_MISUSE a program error
 * (a bad memory access), KX_LOG_FAULT the console cannot go on. */
enum KxLogKind { KX_LOG_NOTE = 0, KX_LOG_MISUSE = 1, KX_LOG_FAULT = 2 };

/* The machine's calls out, all with `context`. */
struct KxMachineHooks {
  void* context;
  /* The program set SIOCNT's start bit in 32-bit normal mode with the
   * external clock: the port waits for the cable's clock. Called inside
   * the CPU's register write; kx_serial_exchange may be called from here. */
  void (*armed)(void* context);
  /* KEYINPUT is read: the keys held now, a bit set for each held key. */
  uint16_t (*keys)(void* context);
  void (*log)(void* context, enum KxLogKind kind, const char* part, const char* text);
  /* SO rose with SIOCNT's start bit clear: the cable clocks a word the port
   * does not take. Called inside the CPU's register write. */
  void (*so_idle)(void* context);
};

struct KxMachine* kx_machine_new(const struct KxMachineHooks* hooks);
void kx_machine_free(struct KxMachine* m);

/* The cartridge: ROM bytes and a save chip with its first contents (NULL:
 * erased). Both are copied. Takes effect at the next power-on. Returns 0 if
 * the library refused the ROM. */
int kx_machine_insert(struct KxMachine* m, const uint8_t* rom, size_t rom_size, enum KxSave save,
                      const uint8_t* save_image, size_t save_size);

/* The cartridge clock: the library's own GPIO real-time clock, whose
 * seconds since 1970 `unix_time(context)` gives (NULL: a cartridge without
 * one). Takes effect at the next power-on, as kx_machine_insert does. */
void kx_machine_set_clock(struct KxMachine* m, int64_t (*unix_time)(void* context), void* context);

/* Power on: the boot loader waits for a program; the CPU is not run. */
void kx_machine_power_on(struct KxMachine* m);
/* Power on, the image in work RAM at 0x02000000, started there in ARM
 * state, system mode, with the stacks and the vertical-blank interrupt the
 * boot loader leaves. */
void kx_machine_boot(struct KxMachine* m, const uint8_t* image, size_t size);
/* Power on, the image in work RAM, entered at 0x020000C0 as the BIOS's
 * multiboot does: system mode with IRQs unmasked, the registers reset
 * (IME, IE, DISPSTAT, WAITCNT 0) and the display in forced blank. */
void kx_machine_boot_multiboot(struct KxMachine* m, const uint8_t* image, size_t size);

/* Runs the CPU up to its next scheduled event (a few hundred cycles at
 * most), or less when kx_machine_stop_soon was called meanwhile. */
void kx_machine_run_slice(struct KxMachine* m);
/* The CPU leaves its run after the instruction in progress. */
void kx_machine_stop_soon(struct KxMachine* m);
/* CPU cycles since the machine was made (kept across power-ons). */
uint64_t kx_machine_cycles(const struct KxMachine* m);
uint32_t kx_machine_pc(const struct KxMachine* m);

/* The link port: whether it waits for the cable, and one word clocked
 * through it: `incoming` shifts in and the port's word, returned, shifts
 * out; the port completes `delay` cycles from now. */
int kx_serial_armed(const struct KxMachine* m);
uint32_t kx_serial_exchange(struct KxMachine* m, uint32_t incoming, uint32_t delay);
/* Cycles the program took from the end of each word to arming the port
 * again, summed: what it costs per word beyond the link's own time. */
uint64_t kx_serial_turnaround(const struct KxMachine* m);

/* Views for the picture and the tests. */
uint16_t kx_machine_io(const struct KxMachine* m, uint32_t offset);
const uint8_t* kx_machine_palette(const struct KxMachine* m); /* 1 KiB */
const uint8_t* kx_machine_vram(const struct KxMachine* m);    /* 96 KiB */
/* Work RAM (0x02000000, 0x03000000) as the CPU sees it; NULL elsewhere. */
uint8_t* kx_machine_ram(struct KxMachine* m, uint32_t addr, size_t size);
/* The save chip's contents. */
const uint8_t* kx_machine_save_data(const struct KxMachine* m, size_t* size);

/* The whole machine but the cartridge's bytes: the library's state and the
 * link port's transfer in flight. `out` holds kx_machine_state_size bytes. */
size_t kx_machine_state_size(const struct KxMachine* m);
void kx_machine_save_state(struct KxMachine* m, uint8_t* out);
/* Returns 0 if the library refused the state. */
int kx_machine_load_state(struct KxMachine* m, const uint8_t* in, size_t size);

/* The library's own reading of a save file that carries a clock record
 * after the save's bytes (`file`, `size` bytes, for a chip of `save`): the
 * seven registers and the control byte it takes, and the second since 1970
 * its clock then counts the registers' time as (the latch less its
 * offset). Returns 0 if the library took no record. For checking the
 * record the tool writes against the library's reader. */
int kx_read_clock_record(enum KxSave save, const uint8_t* file, size_t size, uint8_t time[7], uint8_t* control,
                         int64_t* registers_time);

/* Checks that the headers this was built with describe the library's own
 * structures; returns NULL, or what does not match. */
const char* kx_machine_layout_problem(struct KxMachine* m);

#ifdef __cplusplus
}
#endif

#endif
