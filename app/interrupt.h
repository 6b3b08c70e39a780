#pragma once
// Ctrl-C while the host file service runs: the first one asks the service
// to end cleanly (its files closed, the exit status 0); a second one, for a
// tool stuck in a transfer, ends the process at once as usual.

namespace kartex {

class InterruptCatcher {
 public:
  InterruptCatcher();   // installs the handler
  ~InterruptCatcher();  // puts the previous handler back
  InterruptCatcher(const InterruptCatcher&) = delete;
  InterruptCatcher& operator=(const InterruptCatcher&) = delete;

  static bool caught();
};

}  // namespace kartex
