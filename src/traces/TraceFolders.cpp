#include "traces/TraceFolders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
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
  std::string config = envOr("XDG_CONFIG_HOME", home + "/.config");
  config += "/user-dirs.dirs";
  std::ifstream in(config);
  std::string line;
  const std::string key = "XDG_DOCUMENTS_DIR=";
  while (std::getline(in, line)) {
    if (line.rfind(key, 0) != 0) continue;
    std::string value = line.substr(key.size());
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      value = value.substr(1, value.size() - 2);
    }
    if (value.rfind("$HOME", 0) == 0) value.replace(0, 5, home);
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

bool TraceFolders::makeFolder(const std::string& path, std::string* error, int* systemError) {
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  if (std::filesystem::is_directory(path)) return true;
  // A file of that name: create_directories reports no error for it.
  if (!ec) ec = std::make_error_code(std::errc::not_a_directory);
  if (error) *error = "cannot create folder " + path + ": " + ec.message();
  if (systemError) *systemError = ec.value();
  return false;
}

bool TraceFolders::exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

bool TraceFolders::moveAside(const std::string& path, std::initializer_list<const char*> suffixes,
                             std::string* aside, std::string* error) {
  char stamp[32];
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&now, &tm);
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tm);
  const std::string base = path + ".unusable-" + stamp;
  auto taken = [&](const std::string& candidate) {
    if (exists(candidate)) return true;
    for (const char* suffix : suffixes) {
      if (exists(candidate + suffix)) return true;
    }
    return false;
  };
  *aside = base;
  for (int n = 2; taken(*aside); ++n) *aside = base + "-" + std::to_string(n);
  if (std::rename(path.c_str(), aside->c_str()) != 0) {
    *error = "cannot move " + path + " aside";
    return false;
  }
  for (const char* suffix : suffixes) {
    const std::string from = path + suffix;
    if (exists(from) && std::rename(from.c_str(), (*aside + suffix).c_str()) != 0) {
      *error = "cannot move " + from + " aside";
      return false;
    }
  }
  return true;
}

}  // namespace qv
