#include "host/host_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cerrno>
#include <climits>

#include "host/hostio_protocol.h"
#include "host/open_mode.h"

namespace kartex {

namespace {

// What other programs give a new file: read and write for everyone, less
// what the user's umask takes away (open() applies it).
constexpr int CREATE_PERMISSIONS = 0666;

}  // namespace

std::int32_t HostFiles::open(const std::string& path, std::uint32_t mode) {
  if (path.empty()) return -1;
  int fd;
  do {
    fd = ::open(path.c_str(), open_flags(mode), CREATE_PERMISSIONS);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  open_.insert(fd);
  return fd;
}

void HostFiles::close(std::int32_t handle) {
  if (!known(handle)) return;
  open_.erase(handle);
  ::close(handle);
}

std::int32_t HostFiles::read(std::int32_t handle, std::span<std::uint8_t> into) {
  if (!known(handle)) return -1;
  // A read may return less than asked before the end of the file: go on
  // until the request is filled or the file ends.
  std::size_t done = 0;
  while (done < into.size()) {
    const auto n = ::read(handle, into.data() + done, static_cast<unsigned>(into.size() - done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return done > 0 ? static_cast<std::int32_t>(done) : -1;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<std::int32_t>(done);
}

bool HostFiles::write(std::int32_t handle, std::span<const std::uint8_t> bytes) {
  if (!known(handle)) return false;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const auto n = ::write(handle, bytes.data() + done, static_cast<unsigned>(bytes.size() - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::int64_t HostFiles::seek(std::int32_t handle, std::int32_t offset, std::uint32_t origin) {
  if (!known(handle)) return -1;
  int whence;
  switch (origin) {
    case ORIGIN_START: whence = SEEK_SET; break;
    case ORIGIN_CURRENT: whence = SEEK_CUR; break;
    case ORIGIN_END: whence = SEEK_END; break;
    default: return -1;
  }
  const auto at = ::lseek(handle, offset, whence);
  return at < 0 ? -1 : static_cast<std::int64_t>(at);
}

void HostFiles::close_all() {
  for (std::int32_t fd : open_) ::close(fd);
  open_.clear();
}

}  // namespace kartex
