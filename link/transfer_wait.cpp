#include "link/transfer_wait.h"

#include <cstdio>

namespace kartex {

namespace {

// A cable that was pulled out, or whose driver lost it: the pipe handles
// stay open but every transfer fails with one of these.
bool device_gone(std::uint32_t error) {
  switch (error) {
    case WIN_ERROR_FILE_NOT_FOUND:
    case WIN_ERROR_BAD_COMMAND:
    case WIN_ERROR_GEN_FAILURE:
    case WIN_ERROR_NO_SUCH_DEVICE:
    case WIN_ERROR_DEVICE_NOT_CONNECTED:
      return true;
    default:
      return false;
  }
}

}  // namespace

std::string timeout_text(int timeout_ms) {
  char text[48];
  std::snprintf(text, sizeof text, "timeout after %g s", timeout_ms / 1000.0);
  return text;
}

PipeResult transfer_result(WaitEnd wait, const IoOutcome& io, int timeout_ms,
                           const std::string& system_text) {
  // A transfer that finished while it was being cancelled has moved its
  // bytes: dropping them would lose data the cable already sent.
  if (io.ok) return PipeResult::done(io.moved);
  const std::string number = " (system error " + std::to_string(io.error) + ")";
  if (wait == WaitEnd::TimedOut && io.error == WIN_ERROR_OPERATION_ABORTED)
    return PipeResult::failed(timeout_text(timeout_ms), io.moved);
  if (device_gone(io.error))
    return PipeResult::failed("the cable is gone (unplugged?): " + system_text + number, io.moved);
  return PipeResult::failed(system_text + number, io.moved);
}

std::uint32_t wait_limit_ms(int timeout_ms) {
  // A positive int stays below 0xFFFFFFFF, which is INFINITE to the wait
  // call; zero or less would poll once and fail a healthy transfer.
  return timeout_ms > 0 ? static_cast<std::uint32_t>(timeout_ms) : 1;
}

}  // namespace kartex
