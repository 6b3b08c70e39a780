#include "sim/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/failure.h"

namespace kartex {

namespace {

const char* kind_of(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

}  // namespace

InputFile::InputFile(const std::string& path, std::string what, std::string prefix)
    : what_(std::move(what)), prefix_(std::move(prefix)) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd_ < 0) fail(prefix_ + "cannot open " + what_ + ": " + std::strerror(errno));
  struct stat st {};
  if (::fstat(fd_, &st) != 0) refuse(std::strerror(errno));
  if (!S_ISREG(st.st_mode))
    fail(prefix_ + what_ + " is " + kind_of(st.st_mode) + ", not a regular file");
  size_ = static_cast<std::uint64_t>(st.st_size);
}

InputFile::~InputFile() {
  if (fd_ >= 0) ::close(fd_);
}

void InputFile::refuse(const std::string& why) const { fail(prefix_ + "cannot read " + what_ + ": " + why); }

std::vector<std::uint8_t> InputFile::read_all() {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size_));
  std::size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = ::read(fd_, bytes.data() + got, bytes.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) refuse(std::strerror(errno));
    if (n == 0) refuse("it became shorter while it was read");
    got += static_cast<std::size_t>(n);
  }
  std::uint8_t more = 0;
  ssize_t n;
  do n = ::read(fd_, &more, 1);
  while (n < 0 && errno == EINTR);
  if (n > 0) refuse("it grew while it was read");
  return bytes;
}

}  // namespace kartex
