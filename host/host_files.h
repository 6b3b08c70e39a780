#pragma once
// The file service's files on the host's disk. A program reaches only
// regular files beneath one folder: a path that leads out of it (absolute,
// "..", a drive letter, a link that points outside, the magic links of
// /proc), a device, FIFO, socket or folder, and any open beyond
// MAX_OPEN_FILES is refused with -1, as a missing file is, and reported
// once through `report`. The handle is the host's descriptor.

#include <functional>
#include <map>
#include <set>

#include "host/file_host.h"
#include "host/served_folder.h"

namespace kartex {

class HostFiles : public FileHost {
 public:
  // One line (without the "kartex: " prefix) about a refused open.
  using Report = std::function<void(const std::string& line)>;
  using Resolve = kartex::Resolve;

  static constexpr std::size_t MAX_OPEN_FILES = 32;
  // Distinct refusals reported before the rest go unmentioned.
  static constexpr std::size_t MAX_REPORTS = 16;

  // `folder`: where the program's paths start; empty means the current
  // directory. Throws Failure when it is no folder that can be opened.
  explicit HostFiles(std::string folder = "", Report report = {},
                     Resolve resolve = Resolve::Kernel);
  HostFiles(const HostFiles&) = delete;
  HostFiles& operator=(const HostFiles&) = delete;
  ~HostFiles() override;

  std::int32_t open(const std::string& path, std::uint32_t mode) override;
  void close(std::int32_t handle) override;
  std::int32_t read(std::int32_t handle, std::span<std::uint8_t> into) override;
  bool write(std::int32_t handle, std::span<const std::uint8_t> bytes) override;
  std::int64_t seek(std::int32_t handle, std::int32_t offset, std::uint32_t origin) override;
  void close_all() override;

  std::size_t open_count() const { return open_.size(); }
  // How the folder is named in lines: the current directory, or the folder "DIR".
  std::string folder_name() const;

 private:
  bool known(std::int32_t handle) const { return open_.count(handle) != 0; }
  void refuse(const std::string& path, const std::string& reason);

  std::string folder_;
  ServedFolder served_;
  Report report_;
  Resolve resolve_;
  std::map<std::int32_t, bool> open_;     // handle -> opened for appending
  std::set<std::string> reported_;
  bool quiet_ = false;                    // MAX_REPORTS reached and said so
};

}  // namespace kartex
