#include "sim/cable/cable_clock.h"

#include <algorithm>

namespace kartex {

CableClock::CableClock(SimClock& console, HardwareTimes times)
    : console_(console),
      word_(simtime::link_word(times.link_hz)),
      post_(simtime::microseconds(times.usb_latency_us) / 8),
      read_(simtime::microseconds(times.usb_latency_us)) {}

void CableClock::restart() {
  start_ = host_ = cable_free_ = console_.now();
  link_busy_ = 0;
  answers_.clear();
  taken_.clear();
}

void CableClock::host_posts() { host_ += post_; }

void CableClock::host_reads(std::size_t bytes) {
  taken_bytes_ += bytes;
  // The read ends with its last byte, which came with the first answer that
  // reaches it.
  SimTime ready = 0;
  for (const auto& [end, when] : answers_)
    if (end >= taken_bytes_) {
      ready = bytes > 0 ? when : 0;
      break;
    }
  while (!answers_.empty() && answers_.front().first <= taken_bytes_) answers_.pop_front();
  host_ = std::max(host_ + read_, ready);
}

SimTime CableClock::exchange() {
  const SimTime start = std::max({console_.now(), host_, cable_free_});
  cable_free_ = start + word_;
  link_busy_ += word_;
  word_taken();
  return cable_free_;
}

SimTime CableClock::upload_exchange() {
  cable_free_ = std::max(host_, cable_free_) + word_;
  link_busy_ += word_;
  word_taken();
  return cable_free_;
}

void CableClock::word_taken() {
  taken_.push_back(cable_free_);
  if (taken_.size() > FIFO_WORDS + 1) taken_.pop_front();
}

void CableClock::answered(std::size_t bytes, SimTime when) {
  queued_ += bytes;
  answers_.emplace_back(queued_, when);
}

void CableClock::end_transfer() {
  if (taken_.size() > FIFO_WORDS) host_ = std::max(host_, taken_.front());
  taken_.clear();
}

}  // namespace kartex
