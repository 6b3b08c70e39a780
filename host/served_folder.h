#pragma once
// The host side of the file service that differs between hosts: the served
// folder held open, the opening of a path beneath it, and the few file calls
// whose names and widths differ. One file per host kind implements it
// (served_folder_posix.cpp, served_folder_windows.cpp).

#include <cstdint>
#include <string>
#include <vector>

namespace kartex {

// How paths are resolved: by the kernel beneath the folder (openat2, Linux
// 5.6 on; falls back to Walk where the kernel lacks it), or one name at a
// time without following any link (every other host).
enum class Resolve { Kernel, Walk };

class ServedFolder {
 public:
  // `path` empty: the current directory. Throws Failure when it is no
  // folder that can be opened.
  explicit ServedFolder(const std::string& path);
  ServedFolder(const ServedFolder&) = delete;
  ServedFolder& operator=(const ServedFolder&) = delete;
  ~ServedFolder();

  // Opens `names` (no empty, "." or ".." among them) beneath the folder
  // with the host's open `flags`, never blocking. A descriptor, or -1 with
  // errno: EXDEV where the path leads out, ELOOP at a link not followed.
  // `resolve` turns to Walk where the kernel cannot resolve beneath.
  int open(const std::vector<std::string>& names, int flags, Resolve& resolve) const;

 private:
  std::string path_;
  int fd_ = -1;  // POSIX: the folder's descriptor
};

// A name separator in a program's path on this host ('/', and '\' on Windows).
bool is_path_separator(char c);
// A path that names a drive or a file's stream (Windows: any ':').
bool names_a_drive(const std::string& path);
// A name the host takes for a device in every folder (Windows: CON, NUL, COM1 ...).
bool is_device_name(const std::string& name);

// The descriptor's file is a regular file.
bool is_regular_file(int fd);
// The file's size in bytes, or -1.
std::int64_t file_size_of(int fd);
// lseek with 64-bit positions; -1 on failure.
std::int64_t seek_file(int fd, std::int64_t offset, int whence);
// A regular file opened without blocking goes back to blocking calls.
void end_no_block(int fd);

}  // namespace kartex
