#include "app/dat_sources.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "common/failure.h"

namespace kartex {

namespace {

std::filesystem::path from_environment(const char* name) {
  const char* value = std::getenv(name);
  return value && *value ? std::filesystem::path(value) : std::filesystem::path();
}

bool catalogue_name(const std::filesystem::path& file) {
  std::string ext = file.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext == ".dat" || ext == ".xml";
}

void load_one(const std::string& path, std::vector<DatFile>& dats,
              const std::function<void(const std::string&)>& warn) {
  try {
    dats.push_back(read_dat_file(path));
  } catch (const Failure& f) {
    warn(std::string(f.what()) + "; its entries are left out");
  }
}

}  // namespace

std::filesystem::path user_dat_folder() {
#ifdef _WIN32
  const std::filesystem::path base = from_environment("APPDATA");
  return base.empty() ? base : base / "kartex" / "dat";
#else
  std::filesystem::path base = from_environment("XDG_DATA_HOME");
  // A relative XDG path is to be ignored, as if it were unset.
  if (base.empty() || base.is_relative()) {
    const std::filesystem::path home = from_environment("HOME");
    if (home.empty()) return {};
    base = home / ".local" / "share";
  }
  return base / "kartex" / "dat";
#endif
}

std::vector<DatFile> load_dat_files(const std::vector<std::string>& named,
                                    const std::filesystem::path& folder,
                                    const std::function<void(const std::string&)>& warn) {
  std::vector<DatFile> dats;
  for (const std::string& path : named) load_one(path, dats, warn);
  if (folder.empty()) return dats;
  std::error_code ec;
  if (!std::filesystem::is_directory(folder, ec)) return dats;
  std::vector<std::filesystem::path> files;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    if (catalogue_name(it->path()) && it->is_regular_file(ec)) files.push_back(it->path());
  if (ec) warn("DAT folder " + folder.string() + ": " + ec.message() + "; the DAT files in it are left out");
  std::sort(files.begin(), files.end());
  for (const auto& file : files) load_one(file.string(), dats, warn);
  return dats;
}

}  // namespace kartex
