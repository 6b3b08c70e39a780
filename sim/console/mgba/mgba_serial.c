#include "sim/console/mgba/mgba_serial.h"

#include <mgba/internal/gba/gba.h>
#include <mgba/internal/gba/io.h>
#include <mgba/internal/gba/sio.h>

enum {
  SIOCNT_INTERNAL_CLOCK = 0x0001,
  SIOCNT_FAST_CLOCK = 0x0002, /* internal clock of 2 MHz, else 256 kHz */
  SIOCNT_SO_HIGH = 0x0008,    /* SO's level while no transfer runs: the cable clocks at its rise */
  SIOCNT_START = 0x0080,
  SIOCNT_IRQ = 0x4000,
};

static struct KxSerial* serial_of(struct GBASIODriver* driver) { return (struct KxSerial*) driver; }

static uint32_t port_word(const struct GBA* gba) {
  return (uint32_t) gba->memory.io[REG_SIODATA32_LO >> 1] | (uint32_t) gba->memory.io[(REG_SIODATA32_LO + 2) >> 1] << 16;
}

static void complete(struct mTiming* timing, void* context, uint32_t late) {
  (void) timing;
  struct KxSerial* s = context;
  struct GBA* gba = s->gba;
  s->moving = 0;
  s->ended_at = mTimingGlobalTime(&gba->timing) - late;
  s->ended = 1;
  gba->memory.io[REG_SIODATA32_LO >> 1] = (uint16_t) s->incoming;
  gba->memory.io[(REG_SIODATA32_LO + 2) >> 1] = (uint16_t) (s->incoming >> 16);
  gba->sio.siocnt &= (uint16_t) ~SIOCNT_START;
  gba->memory.io[REG_SIOCNT >> 1] &= (uint16_t) ~SIOCNT_START;
  if (gba->sio.siocnt & SIOCNT_IRQ) GBARaiseIRQ(gba, GBA_IRQ_SIO, late);
}

static uint16_t write_register(struct GBASIODriver* driver, uint32_t address, uint16_t value) {
  struct KxSerial* s = serial_of(driver);
  if (address != REG_SIOCNT || s->quiet) return value;
  const int so_rises = !(s->gba->sio.siocnt & SIOCNT_SO_HIGH) && (value & SIOCNT_SO_HIGH);
  if (!(value & SIOCNT_START)) {
    s->waiting = 0; /* called off before the cable clocked it */
    /* The cable clocks at SO's rise whatever the start bit says */
    if (so_rises && !s->moving) s->so_idle(s->context);
    return value;
  }
  if (s->waiting || s->moving) return value;
  if (s->gba->sio.mode != SIO_NORMAL_32) {
    s->misuse(s->context, "8-bit normal mode armed: the cable clocks 32-bit words; the transfer never ends");
    return value;
  }
  if (value & SIOCNT_INTERNAL_CLOCK) {
    /* The console clocks itself; nothing drives SI, so ones come in. */
    s->misuse(s->context, "internal clock selected: the cable expects to drive the clock");
    kx_serial_clock_word(s, 0xFFFFFFFFu, value & SIOCNT_FAST_CLOCK ? 32 * 8 : 32 * 64);
    return value;
  }
  if (!so_rises) {
    s->misuse(s->context, "start bit set without raising SO (bit 3 from 0 to 1 in the same write): the cable never "
                          "sees the console ready; the transfer never ends");
    return value;
  }
  s->waiting = 1;
  if (s->ended) s->turnaround += mTimingGlobalTime(&s->gba->timing) - s->ended_at;
  s->ended = 0;
  s->armed(s->context);
  return value;
}

void kx_serial_init(struct KxSerial* s, void* context, void (*armed)(void*), void (*misuse)(void*, const char*),
                    void (*so_idle)(void*)) {
  s->d.p = NULL;
  s->d.init = NULL;
  s->d.deinit = NULL;
  s->d.load = NULL;
  s->d.unload = NULL;
  s->d.writeRegister = write_register;
  s->done.context = s;
  s->done.callback = complete;
  s->done.name = "Cable link word";
  s->done.priority = 0x80;
  s->gba = NULL;
  s->context = context;
  s->armed = armed;
  s->misuse = misuse;
  s->so_idle = so_idle;
  s->incoming = 0;
  s->waiting = 0;
  s->moving = 0;
  s->quiet = 0;
  s->ended_at = 0;
  s->ended = 0;
  s->turnaround = 0;
}

void kx_serial_attach(struct KxSerial* s, struct GBA* gba) {
  s->gba = gba;
  s->waiting = 0;
  s->moving = 0;
  s->ended = 0;
  GBASIOSetDriver(&gba->sio, &s->d, SIO_NORMAL_32);
}

uint32_t kx_serial_clock_word(struct KxSerial* s, uint32_t incoming, uint32_t delay) {
  s->waiting = 0;
  s->moving = 1;
  s->incoming = incoming;
  mTimingDeschedule(&s->gba->timing, &s->done);
  mTimingSchedule(&s->gba->timing, &s->done, (int32_t) delay);
  return port_word(s->gba);
}

uint32_t kx_serial_remaining(const struct KxSerial* s) {
  if (!s->moving) return 0;
  const int32_t left = (int32_t) (s->done.when - mTimingCurrentTime(&s->gba->timing));
  return left > 0 ? (uint32_t) left : 0;
}

void kx_serial_resume(struct KxSerial* s, uint32_t remaining) {
  if (!s->moving) return;
  mTimingDeschedule(&s->gba->timing, &s->done);
  mTimingSchedule(&s->gba->timing, &s->done, (int32_t) remaining);
}
