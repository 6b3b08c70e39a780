#pragma once
// The file service's files on the host's disk, through the host's own
// open/read/write/lseek/close. The handle is the host's descriptor.

#include <set>

#include "host/file_host.h"

namespace kartex {

class HostFiles : public FileHost {
 public:
  HostFiles() = default;
  HostFiles(const HostFiles&) = delete;
  HostFiles& operator=(const HostFiles&) = delete;
  ~HostFiles() override { close_all(); }

  std::int32_t open(const std::string& path, std::uint32_t mode) override;
  void close(std::int32_t handle) override;
  std::int32_t read(std::int32_t handle, std::span<std::uint8_t> into) override;
  bool write(std::int32_t handle, std::span<const std::uint8_t> bytes) override;
  std::int64_t seek(std::int32_t handle, std::int32_t offset, std::uint32_t origin) override;
  void close_all() override;

  std::size_t open_count() const { return open_.size(); }

 private:
  bool known(std::int32_t handle) const { return open_.count(handle) != 0; }

  std::set<std::int32_t> open_;
};

}  // namespace kartex
