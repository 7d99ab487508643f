#include "traces/TraceFolders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace qv {
namespace {

std::string envOr(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return value && *value ? std::string(value) : fallback;
}

// user-dirs.dirs lines look like XDG_DOCUMENTS_DIR="$HOME/Documents".
std::string documentsFromUserDirs(const std::string& home) {
  const std::string config = envOr("XDG_CONFIG_HOME", home + "/.config");
  std::ifstream in(config + "/user-dirs.dirs");
  std::string line;
  const std::string key = "XDG_DOCUMENTS_DIR=";
  while (std::getline(in, line)) {
    if (line.rfind(key, 0) != 0) continue;
    std::string value = line.substr(key.size());
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      value = value.substr(1, value.size() - 2);
    }
    if (value.rfind("$HOME", 0) == 0) value = home + value.substr(5);
    if (!value.empty() && value.front() == '/') return value;
  }
  return {};
}

}  // namespace

std::string TraceFolders::homeFolder() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/tmp";
}

std::string TraceFolders::dataFolder() {
  if (const char* dir = std::getenv("QUORVEX_DATA_DIR"); dir && *dir) return dir;
  return envOr("XDG_DATA_HOME", homeFolder() + "/.local/share") + "/Quorvex";
}

std::string TraceFolders::documentsFolder() {
  if (const char* dir = std::getenv("QUORVEX_DOCUMENTS_DIR"); dir && *dir) return dir;
  if (const char* dir = std::getenv("XDG_DOCUMENTS_DIR"); dir && *dir) return dir;
  const std::string home = homeFolder();
  const std::string fromConfig = documentsFromUserDirs(home);
  return fromConfig.empty() ? home + "/Documents" : fromConfig;
}

bool TraceFolders::makeFolder(const std::string& path, std::string* error) {
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  if (std::filesystem::is_directory(path)) return true;
  if (error) *error = "cannot create folder " + path + ": " + ec.message();
  return false;
}

}  // namespace qv
