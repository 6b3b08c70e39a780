#pragma once
// The cable's time: when the host's transfers reach it, when each link word
// moves, and when the answers the host reads were there.
//
// - A link word takes 32 bit times of the link clock and moves only when
//   both sides are ready: it starts at the latest of the console arming the
//   port (the console's clock), the host's transfer reaching the cable, and
//   the end of the word before it.
// - USB: a transfer the host posts (a command, data out) costs an eighth of
//   the turn-around (125 µs by default: scheduling a short bulk transfer
//   that needs no reply); a read of the data-in pipe costs the whole
//   turn-around (1000 µs by default), since the host asks and then waits
//   for the reply, and it cannot end before its last byte was there. Bytes
//   cross USB while the link is busy (the bus is several times faster than
//   the link), so only the turn-arounds are counted.
// - Data out: the cable buffers FIFO_WORDS words; a longer transfer ends
//   when the words beyond that have gone to the console.
// - The host's own pauses between transfers are not seen here.

#include <algorithm>
#include <cstdint>
#include <deque>
#include <utility>

#include "sim/clock/sim_clock.h"

namespace kartex {

struct HardwareTimes {
  std::uint64_t link_hz = 2'000'000;
  std::uint64_t usb_latency_us = 1000;
};

class CableClock {
 public:
  static constexpr std::size_t FIFO_WORDS = 16;

  CableClock(SimClock& console, HardwareTimes times);

  // A new run begins now, at the console's time: host and cable start there.
  void restart();

  // The host's next transfer reaches the cable.
  void host_posts();
  // The host waited this long for a transfer that never completed.
  void host_waits(SimTime t) { host_ += t; }
  // The host reads `bytes` answer bytes (they are there or come).
  void host_reads(std::size_t bytes);
  // One word moves between the cable and the console; the console has
  // armed (its clock says when). Returns the time it completes, which the
  // console learns with the word.
  SimTime exchange();
  // One upload word moves to the boot loader, which is always ready.
  SimTime upload_exchange();
  // `bytes` answer bytes for the host are ready at `when`.
  void answered(std::size_t bytes, SimTime when);
  // The cable dropped the answers the host had not read (a pipe reset).
  void drop_answers() {
    answers_.clear();
    taken_bytes_ = queued_;
  }
  // Words from the host on the data-out pipe: the first `words` of a
  // transfer were taken at these times; the transfer ends when all but the
  // cable's buffer are gone.
  void begin_transfer() { taken_.clear(); }
  void end_transfer();

  SimTime host() const { return host_; }
  // The latest time anything happened: the host's or the cable's.
  SimTime now() const { return std::max(host_, cable_free_); }
  // Since restart(): the run's time and how long the link was moving words.
  SimTime elapsed() const { return now() - start_; }
  SimTime link_busy() const { return link_busy_; }
  SimTime word_time() const { return word_; }
  SimTime post_time() const { return post_; }
  SimTime read_time() const { return read_; }

 private:
  void word_taken();

  SimClock& console_;
  SimTime word_, post_, read_;
  SimTime start_ = 0, host_ = 0, cable_free_ = 0, link_busy_ = 0;
  // End of each answer's bytes, in order: (bytes queued in total, ready at).
  std::deque<std::pair<std::uint64_t, SimTime>> answers_;
  std::uint64_t queued_ = 0, taken_bytes_ = 0;
  // When the latest words of the current data-out transfer went, as many as
  // the FIFO holds and one more.
  std::deque<SimTime> taken_;
};

}  // namespace kartex
