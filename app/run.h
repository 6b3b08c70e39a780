#pragma once
// One run of the tool: banner, command line, host file, link, bring-up and
// one command body. Returns the exit status; never throws.

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "common/progress.h"
#include "link/cable_link.h"
#include "app/transport.h"
#include "vts/playback.h"

namespace kartex {

struct RunEnv {
  std::ostream& out;
  std::ostream& err;
  // Builds the transport from the options; empty: the real transports
  // (USB cable or simulator), reporting on `err`.
  std::function<PipesOpener(const TransportOptions&)> opener;
  Sleeper sleep = sleep_ms;
  // The wall clock of the program load's clock stamp.
  std::function<std::time_t()> clock = [] { return std::time(nullptr); };
  // Ends the host file service of `rtc` (see ServiceOptions::stop); empty:
  // the user's Ctrl-C does.
  std::function<bool(std::uint64_t idle_polls)> service_stop = nullptr;
  // Asked at the end of each block: true stops the command as a Ctrl-C
  // does (exit status 130); empty: the user's Ctrl-C does.
  std::function<bool()> interrupted = nullptr;
  // Standard error is a terminal that takes the progress bar.
  bool progress_bar = false;
  // Standard output is that same terminal: the bar counts the marks.
  bool marks_in_bar = false;
  // Where fe's question is answered; asked only when `in_is_terminal`.
  std::istream* in = nullptr;
  bool in_is_terminal = false;
  // Where the video command's playback shows and sounds: a window and the
  // sound device when there are any, nothing otherwise.
  MediaOutputs video_outputs{};
  // The folder whose *.dat and *.xml files a dump is checked against;
  // nullopt: the user's data folder (app/dat_sources.h).
  std::optional<std::filesystem::path> dat_folder{};
  // The clock of the progress bar and of the report's time line; empty:
  // the steady clock.
  std::function<ProgressClock::time_point()> now = nullptr;
};

int run(const std::vector<std::string>& args, RunEnv& env);

}  // namespace kartex
