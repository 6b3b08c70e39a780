#include "host/served_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/openat2.h>
#include <sys/syscall.h>
#endif

#include <cerrno>
#include <cstring>

#include "common/failure.h"
#include "host/shown_text.h"

namespace kartex {

namespace {

// What other programs give a new file: read and write for everyone, less
// what the user's umask takes away (open() applies it).
constexpr int CREATE_PERMISSIONS = 0666;

// Never the tool's terminal, never inherited, never waiting for a FIFO's
// other end or a device.
constexpr int NO_BLOCK = O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

int open_retrying(int dir, const char* name, int flags) {
  int fd;
  do {
    fd = ::openat(dir, name, flags, CREATE_PERMISSIONS);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

#ifdef __linux__
// -1 with errno ENOSYS where the kernel has no openat2.
int open_by_kernel(int dir, const std::string& path, int flags) {
  open_how how{};
  how.flags = static_cast<std::uint64_t>(flags);
  how.mode = (flags & O_CREAT) ? CREATE_PERMISSIONS : 0;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
  long fd;
  do {
    fd = ::syscall(SYS_openat2, dir, path.c_str(), &how, sizeof how);
  } while (fd < 0 && errno == EINTR);
  return static_cast<int>(fd);
}
#endif

// One name at a time, every folder on the way opened without following a
// link; the last name too. ".." never comes here, so nothing leads out.
int walk(int root, const std::vector<std::string>& names, int flags) {
  int dir = root;
  auto leave = [&](int fd) {
    const int error = errno;
    if (dir != root) ::close(dir);
    errno = error;
    return fd;
  };
  for (std::size_t i = 0; i + 1 < names.size(); ++i) {
    const int next = open_retrying(dir, names[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0) {
      struct stat st{};
      const int error = errno;
      const bool link = ::fstatat(dir, names[i].c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
      errno = link ? ELOOP : error;
      return leave(-1);
    }
    leave(0);
    dir = next;
  }
  return leave(open_retrying(dir, names.back().c_str(), flags | O_NOFOLLOW));
}

}  // namespace

ServedFolder::ServedFolder(const std::string& path) : path_(path.empty() ? "." : path) {
  do {
    fd_ = ::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  } while (fd_ < 0 && errno == EINTR);
  if (fd_ < 0)
    fail("--files: cannot open the folder \"" + shown_text(path_) + "\": " + std::strerror(errno));
}

ServedFolder::~ServedFolder() { ::close(fd_); }

int ServedFolder::open(const std::vector<std::string>& names, int flags, Resolve& resolve) const {
  flags |= NO_BLOCK;
#ifdef __linux__
  if (resolve == Resolve::Kernel) {
    std::string path;
    for (const std::string& name : names) path += (path.empty() ? "" : "/") + name;
    const int fd = open_by_kernel(fd_, path, flags);
    if (fd >= 0 || errno != ENOSYS) return fd;
    resolve = Resolve::Walk;  // a kernel older than openat2
  }
#else
  resolve = Resolve::Walk;
#endif
  return walk(fd_, names, flags);
}

bool is_path_separator(char c) { return c == '/'; }
bool names_a_drive(const std::string&) { return false; }
bool is_device_name(const std::string&) { return false; }

bool is_regular_file(int fd) {
  struct stat st{};
  return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

std::int64_t file_size_of(int fd) {
  struct stat st{};
  return ::fstat(fd, &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
}

std::int64_t seek_file(int fd, std::int64_t offset, int whence) {
  return static_cast<std::int64_t>(::lseek(fd, static_cast<off_t>(offset), whence));
}

void end_no_block(int fd) {
  const int status = ::fcntl(fd, F_GETFL);
  if (status >= 0) ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
}

}  // namespace kartex
