#include "host/host_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif
#ifdef __linux__
#include <linux/openat2.h>
#include <sys/syscall.h>
#endif

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

#include "common/failure.h"
#include "common/output.h"
#include "host/hostio_protocol.h"
#include "host/open_mode.h"
#include "host/shown_text.h"

namespace kartex {

namespace {

// What other programs give a new file: read and write for everyone, less
// what the user's umask takes away (open() applies it).
constexpr int CREATE_PERMISSIONS = 0666;

// Errors of our own for refusals found before the host is asked.
constexpr int LEADS_OUT = -10;
constexpr int NOT_REGULAR = -11;

#ifdef _WIN32
constexpr int NO_BLOCK = 0;
using Stat = struct _stat64;
int stat_of(int fd, Stat* st) { return _fstat64(fd, st); }
std::int64_t seek_raw(int fd, std::int64_t offset, int whence) { return _lseeki64(fd, offset, whence); }
bool is_separator(char c) { return c == '/' || c == '\\'; }
#else
constexpr int NO_BLOCK = O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
using Stat = struct stat;
int stat_of(int fd, Stat* st) { return ::fstat(fd, st); }
std::int64_t seek_raw(int fd, std::int64_t offset, int whence) {
  return static_cast<std::int64_t>(::lseek(fd, static_cast<off_t>(offset), whence));
}
bool is_separator(char c) { return c == '/'; }
#endif

bool is_regular(int fd) {
  Stat st{};
  return stat_of(fd, &st) == 0 && (st.st_mode & S_IFMT) == S_IFREG;
}

std::int64_t file_size(int fd) {
  Stat st{};
  if (stat_of(fd, &st) != 0) return -1;
  return static_cast<std::int64_t>(st.st_size);
}

// The path's names, without empty and "." components.
std::vector<std::string> components(const std::string& path) {
  std::vector<std::string> names;
  std::string name;
  for (char c : path + '/') {
    if (!is_separator(c) && c != '/') {
      name += c;
      continue;
    }
    if (!name.empty() && name != ".") names.push_back(name);
    name.clear();
  }
  return names;
}

#ifdef _WIN32
// Names that Windows takes for a device in any folder, with any extension.
bool is_device_name(const std::string& name) {
  std::string base = name.substr(0, name.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  std::transform(base.begin(), base.end(), base.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
    if (base == device) return true;
  return base.size() == 4 && (base.rfind("COM", 0) == 0 || base.rfind("LPT", 0) == 0) &&
         base[3] >= '0' && base[3] <= '9';
}
#endif

// Why `path` cannot name a file beneath the folder whatever the disk holds,
// as one of our errors, or 0.
int path_problem(const std::string& path) {
  if (is_separator(path[0])) return LEADS_OUT;
#ifdef _WIN32
  // A drive letter, or an alternate data stream of a file.
  if (path.find(':') != std::string::npos) return LEADS_OUT;
#endif
  const std::vector<std::string> names = components(path);
  if (names.empty()) return NOT_REGULAR;  // the folder itself
  for (const std::string& name : names) {
    if (name == "..") return LEADS_OUT;
#ifdef _WIN32
    if (is_device_name(name)) return NOT_REGULAR;
#endif
  }
  return 0;
}

}  // namespace

HostFiles::HostFiles(std::string folder, Report report, Resolve resolve)
    : folder_(std::move(folder)), report_(std::move(report)), resolve_(resolve) {
  const std::string where = folder_.empty() ? "." : folder_;
#ifdef _WIN32
  resolve_ = Resolve::Walk;
  const DWORD attributes = GetFileAttributesA(where.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
    fail("--files: \"" + shown_text(where) + "\" is no folder that can be opened");
#else
  do {
    folder_fd_ = ::open(where.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  } while (folder_fd_ < 0 && errno == EINTR);
  if (folder_fd_ < 0)
    fail("--files: cannot open the folder \"" + shown_text(where) + "\": " + std::strerror(errno));
#endif
}

HostFiles::~HostFiles() {
  close_all();
#ifndef _WIN32
  if (folder_fd_ >= 0) ::close(folder_fd_);
#endif
}

std::string HostFiles::folder_name() const {
  return folder_.empty() ? "the current directory" : "the folder \"" + shown_text(folder_) + "\"";
}

void HostFiles::refuse(const std::string& path, const std::string& reason) {
  const std::string line = "refused the program's open of \"" + shown_text(path) + "\": " + reason;
  if (quiet_ || !reported_.insert(line).second) return;
  if (!report_) return;
  if (reported_.size() > MAX_REPORTS) {
    quiet_ = true;
    report_("further refused opens are not shown");
    return;
  }
  report_(line);
}

int HostFiles::walk(const std::string& path, int flags) {
  const std::vector<std::string> names = components(path);
#ifdef _WIN32
  // No descriptor-relative opens here: each name on the way must be no
  // reparse point (symbolic link, junction, mount point).
  std::string full = folder_.empty() ? "." : folder_;
  for (const std::string& name : names) {
    full += '\\';
    full += name;
    const DWORD attributes = GetFileAttributesA(full.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      errno = ELOOP;
      return -1;
    }
  }
  return ::_open(full.c_str(), flags, _S_IREAD | _S_IWRITE);
#else
  int dir = folder_fd_;
  for (std::size_t i = 0; i + 1 < names.size(); ++i) {
    int next;
    do {
      next = ::openat(dir, names[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    } while (next < 0 && errno == EINTR);
    const int error = errno;
    if (next < 0) {
      struct stat st{};
      const bool link = ::fstatat(dir, names[i].c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
      if (dir != folder_fd_) ::close(dir);
      errno = link ? ELOOP : error;
      return -1;
    }
    if (dir != folder_fd_) ::close(dir);
    dir = next;
  }
  int fd;
  do {
    fd = ::openat(dir, names.back().c_str(), flags | O_NOFOLLOW, CREATE_PERMISSIONS);
  } while (fd < 0 && errno == EINTR);
  const int error = errno;
  if (dir != folder_fd_) ::close(dir);
  errno = error;
  return fd;
#endif
}

int HostFiles::open_beneath(const std::string& path, int flags) {
#ifdef __linux__
  if (resolve_ == Resolve::Kernel) {
    open_how how{};
    how.flags = static_cast<std::uint64_t>(flags);
    how.mode = (flags & O_CREAT) ? CREATE_PERMISSIONS : 0;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    long fd;
    do {
      fd = ::syscall(SYS_openat2, folder_fd_, path.c_str(), &how, sizeof how);
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0 || errno != ENOSYS) return static_cast<int>(fd);
    resolve_ = Resolve::Walk;  // a kernel older than openat2
  }
#endif
  return walk(path, flags);
}

std::int32_t HostFiles::open(const std::string& path, std::uint32_t mode) {
  if (path.empty()) return -1;
  if (open_.size() >= MAX_OPEN_FILES) {
    // One line for the limit, whatever the paths.
    if (!quiet_ && reported_.insert("limit").second && report_)
      report_(strprintf("refused the program's open of \"%s\": %zu files are open already",
                        shown_text(path).c_str(), MAX_OPEN_FILES));
    return -1;
  }
  const std::string leads_out = "it leads out of " + folder_name();
  const std::string not_regular = "not a regular file";
  if (const int problem = path_problem(path)) {
    refuse(path, problem == LEADS_OUT ? leads_out : not_regular);
    return -1;
  }
  // Without blocking: a FIFO or device would hold the tool in its open.
  const int fd = open_beneath(path, open_flags(mode) | NO_BLOCK);
  if (fd < 0) {
    switch (errno) {
      case EXDEV: refuse(path, leads_out); break;
      case ELOOP: refuse(path, "it goes through a link that the service does not follow"); break;
      case EISDIR:
      case ENXIO:
      case ENODEV: refuse(path, not_regular); break;
      default: break;  // missing, not permitted: the host's own answer
    }
    return -1;
  }
  if (!is_regular(fd)) {
    ::close(fd);
    refuse(path, not_regular);
    return -1;
  }
#ifndef _WIN32
  // Regular files never block; reads and writes go back to whole requests.
  const int status = ::fcntl(fd, F_GETFL);
  if (status >= 0) ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
#endif
  open_[fd] = (mode & OPEN_APPEND) != 0;
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
  // A write that would leave the position where no seek answer can name
  // it is refused whole.
  const std::int64_t at = open_.at(handle) ? file_size(handle) : seek_raw(handle, 0, SEEK_CUR);
  if (at < 0 || at + static_cast<std::int64_t>(bytes.size()) > MAX_FILE_POSITION) return false;
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
  // The new position is worked out first: one that the answer cannot
  // carry, or before the start, moves nothing.
  std::int64_t from;
  switch (origin) {
    case ORIGIN_START: from = 0; break;
    case ORIGIN_CURRENT: from = seek_raw(handle, 0, SEEK_CUR); break;
    case ORIGIN_END: from = file_size(handle); break;
    default: return -1;
  }
  if (from < 0) return -1;
  const std::int64_t to = from + offset;
  if (to < 0 || to > MAX_FILE_POSITION) return -1;
  return seek_raw(handle, to, SEEK_SET) == to ? to : -1;
}

void HostFiles::close_all() {
  for (const auto& [fd, append] : open_) ::close(fd);
  open_.clear();
}

}  // namespace kartex
