#pragma once
// The host file service: after a program load the tool serves the
// program's text output and host-file requests over the link. It polls the
// cable until the console has a word for it, reads the request and answers
// it, and goes on until `stop` says so (the user's Ctrl-C in the tool).

#include <cstdint>
#include <functional>

#include "host/open_mode.h"

namespace kartex {

class CableLink;
class FileHost;
struct Output;

struct ServiceOptions {
  // Pause between polls of the cable while the program sends nothing.
  int poll_ms = 100;
  char separator = HOST_SEPARATOR;
  // Asked before every poll with the number of polls in a row that found no
  // request; true ends the service. Also asked between the pieces of a
  // long request, with 0. Empty: the service never ends on its own.
  std::function<bool(std::uint64_t idle_polls)> stop;
};

// Returns when `stop` ends the service, after closing every file the
// program left open. A link failure throws Failure (files closed as well).
void host_file_service(CableLink& link, FileHost& files, Output& con,
                       const ServiceOptions& options);

}  // namespace kartex
