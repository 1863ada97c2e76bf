// The CLI's files are found relative to its own executable, so that an
// installed tree works wherever it was installed or moved to, and a build
// directory works without its source tree.
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "data_files.h"

namespace markwire::cli {

namespace fs = std::filesystem;

std::vector<std::string> DataDirs() {
  std::vector<std::string> dirs;
  if (const char* env = std::getenv("MARKWIRE_DATA_DIR"); env != nullptr && *env != '\0') {
    // Set, it is the only place: a user who names a folder means that one.
    dirs.emplace_back(env);
    return dirs;
  }
  std::error_code error;
  const fs::path exe = fs::read_symlink("/proc/self/exe", error);
  if (error) return dirs;
  const fs::path bin = exe.parent_path();
  dirs.push_back((bin / MARKWIRE_DATA_FROM_BIN).lexically_normal().string());
  dirs.push_back((bin / MARKWIRE_DATA_IN_BUILD).lexically_normal().string());
  return dirs;
}

std::string FindDataFile(const std::string& name, std::string& looked) {
  looked.clear();
  for (const std::string& dir : DataDirs()) {
    const fs::path candidate = fs::path(dir) / name;
    std::error_code error;
    if (fs::is_regular_file(candidate, error)) return candidate.string();
    looked += (looked.empty() ? "" : ", ") + dir;
  }
  return {};
}

}  // namespace markwire::cli
