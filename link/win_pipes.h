#pragma once
// The cable through its Windows driver: the device path found by its
// interface class, each pipe opened as a file "<device>\if000pipe00N",
// transfers overlapped so that each waits at most the time limit and is
// cancelled after it, a pipe reset by the driver's PIPE_RESET control.
// Windows only.

#include <memory>
#include <string>

#include "link/pipes.h"

namespace kartex {

// The first cable present; nullptr when there is none (or its device
// cannot be opened). Throws Failure when a pipe of a present cable cannot
// be opened.
std::unique_ptr<Pipes> open_win_cable(int timeout_ms);

// The same for the device at `device_path`.
std::unique_ptr<Pipes> open_win_pipes(const std::string& device_path, int timeout_ms);

}  // namespace kartex
