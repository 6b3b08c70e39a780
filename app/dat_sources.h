#pragma once
// Where the catalogues come from: the files --dat names, and every *.dat and
// *.xml in the user's data folder (kartex/dat under $XDG_DATA_HOME, or
// ~/.local/share; on Windows under the per-user application data folder).

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "cart/dat_file.h"

namespace kartex {

// Empty when the environment names no home for it.
std::filesystem::path user_dat_folder();

// The DATs that could be read; each one that could not costs one line to
// `warn` (a damaged catalogue must not cost the user a dump). A folder that
// does not exist holds none.
std::vector<DatFile> load_dat_files(const std::vector<std::string>& named,
                                    const std::filesystem::path& folder,
                                    const std::function<void(const std::string&)>& warn);

}  // namespace kartex
