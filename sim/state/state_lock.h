#pragma once
// One command at a time on a state folder: a run holds an exclusive lock on
// DIR/lock from before it loads the state until after it saved it, so two
// runs on one folder cannot load the same state and each keep only their own
// writes. A second run waits a while, then says which process holds it.

#include <string>

namespace kartex {

// A second run waits this long before it gives up.
constexpr int STATE_LOCK_WAIT_MS = 30000;

class StateLock {
 public:
  // Creates `dir` (and its parents) when missing; refuses a path that is not
  // a folder. Throws Failure when the lock is not free within `wait_ms`.
  StateLock(const std::string& dir, int wait_ms = STATE_LOCK_WAIT_MS);
  ~StateLock();
  StateLock(const StateLock&) = delete;
  StateLock& operator=(const StateLock&) = delete;

 private:
  int fd_ = -1;
};

}  // namespace kartex
