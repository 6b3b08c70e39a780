#pragma once
// Host files kept in memory, for tests of the file service's decoding and
// for its fuzz target: nothing reaches the disk. Every call is logged in a
// readable form; handles start at 3 and count up.

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "host/file_host.h"
#include "host/hostio_protocol.h"

namespace kartex::test {

class MemoryFiles : public FileHost {
 public:
  std::map<std::string, std::vector<std::uint8_t>> files;
  std::vector<std::string> calls;
  bool closed_all = false;

  std::int32_t open(const std::string& path, std::uint32_t mode) override {
    calls.push_back("open " + path + " " + std::to_string(mode));
    const bool exists = files.count(path) != 0;
    if (!exists && !(mode & OPEN_CREATE)) return -1;
    if (mode & OPEN_TRUNCATE) files[path].clear();
    files[path];
    const std::int32_t handle = next_++;
    open_[handle] = Open{path, mode & OPEN_ACCESS_MASK, (mode & OPEN_APPEND) != 0, 0};
    return handle;
  }

  void close(std::int32_t handle) override {
    calls.push_back("close " + std::to_string(handle));
    open_.erase(handle);
  }

  std::int32_t read(std::int32_t handle, std::span<std::uint8_t> into) override {
    calls.push_back("read " + std::to_string(handle) + " " + std::to_string(into.size()));
    auto it = open_.find(handle);
    if (it == open_.end() || it->second.access == OPEN_WRITE_ONLY) return -1;
    const std::vector<std::uint8_t>& data = files[it->second.path];
    const std::size_t from = std::min<std::size_t>(it->second.position, data.size());
    const std::size_t n = std::min(into.size(), data.size() - from);
    std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(from), n, into.begin());
    it->second.position = from + n;
    return static_cast<std::int32_t>(n);
  }

  bool write(std::int32_t handle, std::span<const std::uint8_t> bytes) override {
    calls.push_back("write " + std::to_string(handle) + " " + std::to_string(bytes.size()));
    auto it = open_.find(handle);
    if (it == open_.end() || it->second.access == OPEN_READ_ONLY) return false;
    std::vector<std::uint8_t>& data = files[it->second.path];
    if (it->second.append) it->second.position = data.size();
    // Memory stays bounded whatever a fuzz input asks for.
    if (it->second.position + bytes.size() > MAX_FILE) return false;
    if (data.size() < it->second.position + bytes.size()) data.resize(it->second.position + bytes.size());
    std::copy(bytes.begin(), bytes.end(), data.begin() + static_cast<std::ptrdiff_t>(it->second.position));
    it->second.position += bytes.size();
    return true;
  }

  std::int64_t seek(std::int32_t handle, std::int32_t offset, std::uint32_t origin) override {
    calls.push_back("seek " + std::to_string(handle) + " " + std::to_string(offset) + " " +
                    std::to_string(origin));
    auto it = open_.find(handle);
    if (it == open_.end()) return -1;
    std::int64_t base;
    switch (origin) {
      case ORIGIN_START: base = 0; break;
      case ORIGIN_CURRENT: base = static_cast<std::int64_t>(it->second.position); break;
      case ORIGIN_END: base = static_cast<std::int64_t>(files[it->second.path].size()); break;
      default: return -1;
    }
    const std::int64_t at = base + offset;
    if (at < 0 || at > static_cast<std::int64_t>(MAX_FILE)) return -1;
    it->second.position = static_cast<std::size_t>(at);
    return at;
  }

  void close_all() override {
    closed_all = true;
    open_.clear();
  }

  std::size_t open_count() const { return open_.size(); }
  std::string text(const std::string& path) const {
    auto it = files.find(path);
    return it == files.end() ? "" : std::string(it->second.begin(), it->second.end());
  }

 private:
  static constexpr std::size_t MAX_FILE = 1 << 20;
  struct Open {
    std::string path;
    std::uint32_t access;
    bool append;
    std::size_t position;
  };
  std::map<std::int32_t, Open> open_;
  std::int32_t next_ = 3;
};

}  // namespace kartex::test
