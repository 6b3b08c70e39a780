#include "host/served_folder.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cerrno>

#include "common/failure.h"
#include "host/shown_text.h"

namespace kartex {

ServedFolder::ServedFolder(const std::string& path) : path_(path.empty() ? "." : path) {
  const DWORD attributes = GetFileAttributesA(path_.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
    fail("--files: cannot open the folder \"" + shown_text(path_) + "\": no such folder");
}

ServedFolder::~ServedFolder() = default;

// No descriptor-relative opens here: each name on the way must be no
// reparse point (symbolic link, junction, mount point), then the whole path
// is opened.
int ServedFolder::open(const std::vector<std::string>& names, int flags, Resolve& resolve) const {
  resolve = Resolve::Walk;
  std::string full = path_;
  DWORD attributes = INVALID_FILE_ATTRIBUTES;
  for (const std::string& name : names) {
    full += '\\';
    full += name;
    attributes = GetFileAttributesA(full.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      errno = ELOOP;
      return -1;
    }
  }
  // A folder opens as nothing here; say what it is.
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    errno = EISDIR;
    return -1;
  }
  return ::_open(full.c_str(), flags, _S_IREAD | _S_IWRITE);
}

bool is_path_separator(char c) { return c == '/' || c == '\\'; }

bool names_a_drive(const std::string& path) { return path.find(':') != std::string::npos; }

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

bool is_regular_file(int fd) {
  struct _stat64 st{};
  return _fstat64(fd, &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFREG;
}

std::int64_t file_size_of(int fd) {
  struct _stat64 st{};
  return _fstat64(fd, &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
}

std::int64_t seek_file(int fd, std::int64_t offset, int whence) { return _lseeki64(fd, offset, whence); }

void end_no_block(int) {}

}  // namespace kartex
