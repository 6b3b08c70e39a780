#include "sim/state/state_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include "common/failure.h"

namespace kartex {

namespace {

constexpr int POLL_MS = 20;

// The pid the holder wrote, or "" while it has not written it yet.
std::string holder_of(int fd) {
  char text[24] = {};
  const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
  std::string pid;
  for (ssize_t i = 0; i < n && text[i] >= '0' && text[i] <= '9'; ++i) pid += text[i];
  return pid;
}

}  // namespace

StateLock::StateLock(const std::string& dir, int wait_ms) {
  std::error_code ec;
  const auto status = std::filesystem::status(dir, ec);
  if (std::filesystem::exists(status) && !std::filesystem::is_directory(status))
    fail("--sim: state=" + dir + " is not a folder; give a folder (a missing one is created)");
  std::filesystem::create_directories(dir, ec);
  if (ec) fail("cannot create simulator state folder " + dir + ": " + ec.message());
  const std::string path = (std::filesystem::path(dir) / "lock").string();
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
  if (fd_ < 0) fail("cannot lock simulator state folder " + dir + ": " + std::strerror(errno));
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    if (err == EINTR) continue;
    if (err != EWOULDBLOCK || std::chrono::steady_clock::now() >= give_up) {
      std::string why = std::strerror(err);
      if (err == EWOULDBLOCK) {
        const std::string pid = holder_of(fd_);
        char waited[32];
        std::snprintf(waited, sizeof waited, "%g s", wait_ms / 1000.0);
        why = std::string("another run holds it") + (pid.empty() ? "" : " (process " + pid + ")") +
              "; waited " + waited;
      }
      ::close(fd_);
      fd_ = -1;
      fail("simulator state folder " + dir + " is in use: " + why);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(POLL_MS));
  }
  // Who holds it, for a run that waits; a failure here loses only that.
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd_, 0) == 0 && ::pwrite(fd_, pid.data(), pid.size(), 0) < 0) {
  }
}

StateLock::~StateLock() {
  if (fd_ < 0) return;
  // The file stays: removing it would let a waiting run lock a file that
  // the next run no longer sees.
  ::flock(fd_, LOCK_UN);
  ::close(fd_);
}

}  // namespace kartex
