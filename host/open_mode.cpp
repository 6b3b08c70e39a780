#include "host/open_mode.h"

#include <fcntl.h>

#include <algorithm>

#include "host/hostio_protocol.h"

namespace kartex {

int open_flags(std::uint32_t mode) {
  int flags = 0;
  switch (mode & OPEN_ACCESS_MASK) {
    case OPEN_READ_ONLY: flags = O_RDONLY; break;
    case OPEN_WRITE_ONLY: flags = O_WRONLY; break;
    default: flags = O_RDWR; break;
  }
  if (mode & OPEN_APPEND) flags |= O_APPEND;
  if (mode & OPEN_CREATE) flags |= O_CREAT;
  if (mode & OPEN_TRUNCATE) flags |= O_TRUNC;
#ifdef O_BINARY
  flags |= O_BINARY;
#endif
  return flags;
}

std::string to_host_path(std::string path, char separator) {
  if (separator != '/') std::replace(path.begin(), path.end(), '/', separator);
  return path;
}

}  // namespace kartex
