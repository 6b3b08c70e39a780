#ifndef KARTEX_SIM_MGBA_SERIAL_H
#define KARTEX_SIM_MGBA_SERIAL_H
/* The link port's normal mode on the emulator library's GBA, as the cable
 * drives it: the console is the externally clocked side and waits with
 * SIOCNT's start bit set until the cable clocks a 32-bit word; the word
 * takes the link's time, and the port then holds the incoming word, clears
 * the start bit and raises its interrupt if asked, as on the console. */

#include <stdint.h>

#include <mgba/core/timing.h>
#include <mgba/gba/interface.h>

#ifdef __cplusplus
extern "C" {
#endif

struct GBA;

struct KxSerial {
  struct GBASIODriver d; /* first: the library calls back with its address */
  struct mTimingEvent done;
  struct GBA* gba;
  void* context;
  void (*armed)(void* context);
  void (*misuse)(void* context, const char* text);
  void (*so_idle)(void* context); /* SO rose with the start bit clear */
  uint32_t incoming; /* the word shifting in while one moves */
  int waiting;       /* the start bit is set; no clock has come yet */
  int moving;        /* clocked; complete at the `done` event */
  int quiet;         /* a state is loading: register writes restore, not start */
  /* The program's own time per word: cycles from each word's end to the
   * next arming, summed over the words. */
  uint64_t ended_at;
  int ended;
  uint64_t turnaround;
};

void kx_serial_init(struct KxSerial* s, void* context, void (*armed)(void*),
                    void (*misuse)(void*, const char*), void (*so_idle)(void*));
/* After every reset of `gba`: the driver serves normal mode. */
void kx_serial_attach(struct KxSerial* s, struct GBA* gba);
/* One word: returns what the console sends, completes `delay` cycles on. */
uint32_t kx_serial_clock_word(struct KxSerial* s, uint32_t incoming, uint32_t delay);
/* Cycles until the word in flight completes (0 if none). */
uint32_t kx_serial_remaining(const struct KxSerial* s);
/* After a state was loaded: the word in flight, if any, goes on. */
void kx_serial_resume(struct KxSerial* s, uint32_t remaining);

#ifdef __cplusplus
}
#endif

#endif
