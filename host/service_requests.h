#pragma once
// One request of the host file service, from its code word to its answer.
// Every word a request announces is read, whatever the tool makes of it, so
// that the next request starts in step; nothing is kept beyond the tool's
// buffers.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "host/host_file_service.h"
#include "host/shown_text.h"

namespace kartex {

class RequestServer {
 public:
  RequestServer(CableLink& link, FileHost& files, Output& con, const ServiceOptions& options);

  // Thrown between the pieces of a long request when `stop` ends the service.
  struct Stopped {};

  // Serves the request that begins with `code`; unknown words are dropped.
  void serve(std::uint32_t code);
  // Shows what is left of a character that the program's last text cut.
  void finish();

 private:
  void print();
  void open();
  void close();
  void read();
  void write();
  void seek();

  // Reads `words` words in transfers the cable can carry; the first bytes
  // go to `keep` (as many as fit), the rest are dropped. Returns the bytes kept.
  std::size_t read_counted(std::uint32_t words, std::span<std::uint8_t> keep);
  void warn(const std::string& line);
  void check_stop();

  CableLink& link_;
  FileHost& files_;
  Output& con_;
  const ServiceOptions& options_;
  std::vector<std::uint8_t> data_;  // the data buffer: one transfer's worth
  ShownText shown_;                 // printed text, escaped for the terminal
};

}  // namespace kartex
