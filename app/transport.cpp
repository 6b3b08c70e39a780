#include "app/transport.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/failure.h"
#include "common/original_lines.h"
#include "link/trace_pipes.h"

namespace kartex {

PipesOpener make_opener(const TransportOptions& options, std::ostream& report,
                        std::function<std::int64_t()>* hardware_clock) {
  std::shared_ptr<HardwareTime> time;
  if (options.sim && options.sim->video_clock_hardware) {
    time = std::make_shared<HardwareTime>();
    if (hardware_clock) *hardware_clock = [time] { return time->ms(); };
  }
  return [options, &report, time]() -> std::unique_ptr<Pipes> {
    std::unique_ptr<Pipes> pipes = options.sim ? open_sim_cable(*options.sim, report, options.timeout_ms, time)
                                               : open_platform_cable(options);
    if (!pipes && !options.sim)
      throw Failure(LINE_NO_CABLE, Failure::Stream::Out, EXIT_FATAL, no_cable_hint());
    if (!pipes || options.trace_path.empty()) return pipes;
    std::FILE* file = std::fopen(options.trace_path.c_str(), "w");
    if (!file) fail("cannot write trace file " + options.trace_path + ": " + std::strerror(errno));
    return std::make_unique<TracePipes>(std::move(pipes), file);
  };
}

}  // namespace kartex
