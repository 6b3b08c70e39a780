#include "host/host_file_service.h"

#include "host/file_host.h"
#include "host/service_requests.h"
#include "link/cable_link.h"

namespace kartex {

void host_file_service(CableLink& link, FileHost& files, Output& con,
                       const ServiceOptions& options) {
  struct CloseFiles {
    FileHost& files;
    ~CloseFiles() { files.close_all(); }
  } closer{files};
  RequestServer server(link, files, con, options);
  std::uint64_t idle_polls = 0;
  try {
    for (;;) {
      if (options.stop && options.stop(idle_polls)) break;
      // The cable clears the bit once the console has armed an exchange: only
      // then is there a request word to read.
      if (link.reg_read(CABLE_REG_STATUS) & STATUS_NO_WORD) {
        ++idle_polls;
        link.pause(options.poll_ms);
        continue;
      }
      idle_polls = 0;
      server.serve(link.read_word());
    }
  } catch (const RequestServer::Stopped&) {
    // Ended in the middle of a long request: the program is left waiting.
  }
  server.finish();
}

}  // namespace kartex
