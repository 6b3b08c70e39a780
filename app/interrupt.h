#pragma once
// Ctrl-C, SIGTERM and SIGHUP: the first one asks the command to stop at the
// end of a block (the host file service and the video stream end as their
// own stop keys do); a second one, for a tool stuck in a transfer, ends the
// process at once, after removing the part files registered here.

namespace kartex {

class InterruptCatcher {
 public:
  InterruptCatcher();   // installs the handlers
  ~InterruptCatcher();  // puts the previous handlers back
  InterruptCatcher(const InterruptCatcher&) = delete;
  InterruptCatcher& operator=(const InterruptCatcher&) = delete;

  static bool caught();
  // The signal that asked the stop (SIGINT, SIGTERM, SIGHUP), 0 before one.
  static int signal_number();
};

// A closed pipe on standard output is then a failed write the tool reports,
// not a silent death in the middle of a command. Once, at start.
void ignore_broken_pipes();

// A temporary file that a second signal removes before the process ends.
// Returns a slot for unregister_cleanup, or -1 when every slot is taken
// (the file is then only removed on the normal paths).
int register_cleanup(const char* path);
void unregister_cleanup(int slot);

}  // namespace kartex
