#include "app/host_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#else
#include <unistd.h>
#endif

#include "app/interrupt.h"
#include "common/failure.h"

namespace kartex {

namespace {

namespace fs = std::filesystem;

std::string system_words(int error) { return std::strerror(error); }

void set_reason(std::string* reason, int error) {
  if (reason) *reason = system_words(error);
}

#ifdef _WIN32
constexpr int BINARY = _O_BINARY;
int raw_write(int fd, const void* data, std::size_t n) {
  return ::_write(fd, data, static_cast<unsigned>(std::min<std::size_t>(n, 1u << 30)));
}
int raw_close(int fd) { return ::_close(fd); }
int raw_sync(int fd) { return ::_commit(fd); }
#else
constexpr int BINARY = 0;
ssize_t raw_write(int fd, const void* data, std::size_t n) { return ::write(fd, data, n); }
int raw_close(int fd) { return ::close(fd); }
int raw_sync(int fd) { return ::fsync(fd); }
#endif

// Follows symlinks to the name the bytes finally go to, which need not
// exist yet (a link may name a file still to be made).
std::optional<std::string> follow_links(const std::string& target, int& error) {
  fs::path at = target;
  for (int hops = 0; hops < 40; ++hops) {
    std::error_code ec;
    const fs::file_status st = fs::symlink_status(at, ec);
    if (ec && st.type() != fs::file_type::not_found) {
      error = ec.value();
      return std::nullopt;
    }
    if (st.type() != fs::file_type::symlink) return at.string();
    const fs::path next = fs::read_symlink(at, ec);
    if (ec) {
      error = ec.value();
      return std::nullopt;
    }
    at = next.is_absolute() ? next : at.parent_path() / next;
  }
  error = ELOOP;
  return std::nullopt;
}

#ifdef _WIN32
// mkstemp's promise on a system without it: a new name, opened exclusively.
int make_temporary(std::string& name) {
  static unsigned counter = 0;
  for (int tries = 0; tries < 100; ++tries) {
    const std::string candidate =
        name + "-" + std::to_string(::_getpid()) + "-" + std::to_string(counter++);
    const int fd = ::_open(candidate.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
                           _S_IREAD | _S_IWRITE);
    if (fd >= 0 || errno != EEXIST) {
      name = candidate;
      return fd;
    }
  }
  return -1;
}
#else
// O_EXCL under mkstemp: a name that another run, or a planted symlink,
// already holds is never opened.
int make_temporary(std::string& name) {
  std::vector<char> pattern(name.begin(), name.end());
  for (char c : std::string("-XXXXXX")) pattern.push_back(c);
  pattern.push_back('\0');
  const int fd = ::mkstemp(pattern.data());
  if (fd >= 0) name = pattern.data();
  return fd;
}

// The old file's mode and, where the user may give it away, its owner; a
// new file gets what the umask allows a plain create.
void carry_over_mode(int fd, const struct stat* old) {
  if (!old) {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    (void)::fchmod(fd, 0666 & ~mask);
    return;
  }
  mode_t mode = old->st_mode & 07777;
  if (::fchown(fd, old->st_uid, old->st_gid) != 0) mode &= ~static_cast<mode_t>(S_ISUID | S_ISGID);
  (void)::fchmod(fd, mode);
}
#endif

}  // namespace

std::optional<std::vector<std::uint8_t>> read_host_file(const std::string& name,
                                                        std::string* reason) {
  if (name.empty()) {
    set_reason(reason, ENOENT);
    return std::nullopt;
  }
  std::FILE* file = std::fopen(name.c_str(), "rb");
  if (!file) {
    set_reason(reason, errno);
    return std::nullopt;
  }
  std::vector<std::uint8_t> data;
  std::uint8_t chunk[65536];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    data.insert(data.end(), chunk, chunk + n);
    if (data.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
      std::fclose(file);
      fail("file " + name + " is larger than 2 GiB");
    }
  }
  // A directory opens on some systems and fails at the first read.
  const int error = errno;
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) {
    set_reason(reason, error ? error : EIO);
    return std::nullopt;
  }
  return data;
}

std::optional<OutputFile> OutputFile::create(const std::string& target, std::string* reason,
                                             std::ostream* standard_output) {
  if (target.empty()) {
    set_reason(reason, ENOENT);
    return std::nullopt;
  }
  OutputFile file;
  if (target == STANDARD_OUTPUT_NAME && standard_output) {
    file.stream_ = standard_output;
    file.target_ = "standard output";
    return file;
  }
  int error = 0;
  const std::optional<std::string> real = follow_links(target, error);
  if (!real) {
    set_reason(reason, error);
    return std::nullopt;
  }
  file.target_ = *real;
  struct stat old {};
  const bool exists = ::stat(real->c_str(), &old) == 0;
  if (!exists && errno != ENOENT) {
    set_reason(reason, errno);
    return std::nullopt;
  }
  if (exists && S_ISDIR(old.st_mode)) {
    set_reason(reason, EISDIR);
    return std::nullopt;
  }
  if (exists && !S_ISREG(old.st_mode)) {
    // A device or a FIFO takes the bytes as they come: no temporary file,
    // nothing renamed, nothing truncated.
    file.fd_ = ::open(real->c_str(), O_WRONLY | BINARY);
    if (file.fd_ < 0) {
      set_reason(reason, errno);
      return std::nullopt;
    }
    return file;
  }
  file.temp_ = *real + ".kartex-part";
  file.fd_ = make_temporary(file.temp_);
  if (file.fd_ < 0) {
    set_reason(reason, errno);
    file.temp_.clear();
    return std::nullopt;
  }
#ifndef _WIN32
  carry_over_mode(file.fd_, exists ? &old : nullptr);
#endif
  file.cleanup_slot_ = register_cleanup(file.temp_.c_str());
  return file;
}

void OutputFile::steal(OutputFile& other) noexcept {
  target_ = std::move(other.target_);
  temp_ = std::move(other.temp_);
  fd_ = other.fd_;
  stream_ = other.stream_;
  cleanup_slot_ = other.cleanup_slot_;
  other.temp_.clear();
  other.fd_ = -1;
  other.stream_ = nullptr;
  other.cleanup_slot_ = -1;
}

OutputFile::OutputFile(OutputFile&& other) noexcept { steal(other); }

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
  if (this != &other) {
    discard();
    steal(other);
  }
  return *this;
}

OutputFile::~OutputFile() { discard(); }

void OutputFile::discard() noexcept {
  if (fd_ >= 0) raw_close(fd_);
  fd_ = -1;
  if (!temp_.empty()) std::remove(temp_.c_str());
  temp_.clear();
  unregister_cleanup(cleanup_slot_);
  cleanup_slot_ = -1;
}

void OutputFile::write(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return;
  if (stream_) {
    stream_->write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    if (!stream_->flush()) fail("writing standard output failed");
    return;
  }
  const std::uint8_t* at = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const auto n = raw_write(fd_, at, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) fail("writing " + (temp_.empty() ? target_ : temp_) + ": " + system_words(n < 0 ? errno : EIO));
    at += n;
    left -= static_cast<std::size_t>(n);
  }
}

void OutputFile::commit() {
  if (stream_) {
    if (!stream_->flush()) fail("writing standard output failed");
    stream_ = nullptr;
    return;
  }
  if (temp_.empty()) {
    const int closed = raw_close(fd_);
    fd_ = -1;
    if (closed != 0) fail("writing " + target_ + ": " + system_words(errno));
    return;
  }
  // On the disk before it takes the name: a crash never leaves a short file
  // under the target's name.
  bool ok = raw_sync(fd_) == 0;
  int error = errno;
  if (raw_close(fd_) != 0 && ok) {
    ok = false;
    error = errno;
  }
  fd_ = -1;
  if (!ok) fail("writing " + temp_ + ": " + system_words(error));
  std::error_code ec;
  fs::rename(temp_, target_, ec);
  if (ec) fail("cannot put " + temp_ + " in place of " + target_ + ": " + ec.message());
  temp_.clear();
  unregister_cleanup(cleanup_slot_);
  cleanup_slot_ = -1;
}

}  // namespace kartex
