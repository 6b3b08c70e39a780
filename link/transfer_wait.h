#pragma once
// What a transfer with a time limit comes to, once the wait for it is over.
// The Windows transport starts each transfer overlapped, waits at most the
// time limit, cancels it on expiry and waits for the cancel to land; these
// decisions are plain logic, so they are checked on every platform.

#include <cstddef>
#include <cstdint>
#include <string>

#include "link/pipes.h"

namespace kartex {

// "timeout after 5 s": the words every transport uses for a transfer that
// outlived its limit.
std::string timeout_text(int timeout_ms);

// System error numbers the decisions tell apart (Windows' values).
enum WinError : std::uint32_t {
  WIN_ERROR_FILE_NOT_FOUND = 2,
  WIN_ERROR_BAD_COMMAND = 22,
  WIN_ERROR_GEN_FAILURE = 31,
  WIN_ERROR_NO_SUCH_DEVICE = 433,  // ERROR_NO_SUCH_DEVICE, missing from older headers
  WIN_ERROR_OPERATION_ABORTED = 995,
  WIN_ERROR_DEVICE_NOT_CONNECTED = 1167,
};

// Whether the wait for the transfer ended in time.
enum class WaitEnd { Completed, TimedOut };

// The transfer's own result after the wait (and after the cancel, when the
// wait timed out).
struct IoOutcome {
  bool ok = false;
  std::uint32_t error = 0;   // the system's error number when !ok
  std::size_t moved = 0;     // bytes moved, also when it failed
};

// `system_text` is the system's own words for io.error.
PipeResult transfer_result(WaitEnd wait, const IoOutcome& io, int timeout_ms,
                           const std::string& system_text);

// How long one wait may last, in the milliseconds a wait call takes: a
// positive limit, never the value that means "for ever".
std::uint32_t wait_limit_ms(int timeout_ms);

}  // namespace kartex
