#include "host/host_files.h"

#include <cstdio>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <vector>

#include "common/output.h"
#include "host/hostio_protocol.h"
#include "host/open_mode.h"
#include "host/shown_text.h"

namespace kartex {

namespace {

// Errors of our own for refusals found before the host is asked.
constexpr int LEADS_OUT = -10;
constexpr int NOT_REGULAR = -11;

// The path's names, without empty and "." components.
std::vector<std::string> components(const std::string& path) {
  std::vector<std::string> names;
  std::string name;
  for (char c : path + '/') {
    if (!is_path_separator(c) && c != '/') {
      name += c;
      continue;
    }
    if (!name.empty() && name != ".") names.push_back(name);
    name.clear();
  }
  return names;
}

// Why `path` cannot name a file beneath the folder whatever the disk holds,
// as one of our errors, or 0.
int path_problem(const std::string& path) {
  if (is_path_separator(path[0]) || names_a_drive(path)) return LEADS_OUT;
  const std::vector<std::string> names = components(path);
  if (names.empty()) return NOT_REGULAR;  // the folder itself
  for (const std::string& name : names) {
    if (name == "..") return LEADS_OUT;
    if (is_device_name(name)) return NOT_REGULAR;
  }
  return 0;
}

}  // namespace

HostFiles::HostFiles(std::string folder, Report report, Resolve resolve)
    : folder_(std::move(folder)), served_(folder_), report_(std::move(report)), resolve_(resolve) {}

HostFiles::~HostFiles() { close_all(); }

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
  const int fd = served_.open(components(path), open_flags(mode), resolve_);
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
  if (!is_regular_file(fd)) {
    ::close(fd);
    refuse(path, not_regular);
    return -1;
  }
  // Regular files never block; reads and writes go back to whole requests.
  end_no_block(fd);
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
  const std::int64_t at = open_.at(handle) ? file_size_of(handle) : seek_file(handle, 0, SEEK_CUR);
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
    case ORIGIN_CURRENT: from = seek_file(handle, 0, SEEK_CUR); break;
    case ORIGIN_END: from = file_size_of(handle); break;
    default: return -1;
  }
  if (from < 0) return -1;
  const std::int64_t to = from + offset;
  if (to < 0 || to > MAX_FILE_POSITION) return -1;
  return seek_file(handle, to, SEEK_SET) == to ? to : -1;
}

void HostFiles::close_all() {
  for (const auto& [fd, append] : open_) ::close(fd);
  open_.clear();
}

}  // namespace kartex
