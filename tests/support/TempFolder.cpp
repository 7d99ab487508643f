#include "support/TempFolder.h"

#include <stdlib.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace qv::test {

namespace fs = std::filesystem;

TempFolder::TempFolder(const std::string& base) {
  std::string parent = base;
  if (parent.empty()) {
    const char* env = std::getenv("QUORVEX_TEST_TMP");
    parent = env && *env ? env : fs::temp_directory_path().string();
  }
  fs::create_directories(parent);
  std::string pattern = parent + "/qv-XXXXXX";
  if (::mkdtemp(pattern.data())) root_ = pattern;
}

TempFolder::~TempFolder() {
  if (root_.empty()) return;
  std::error_code ec;
  fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(root_, ec);
}

std::vector<std::string> TempFolder::names() const {
  std::vector<std::string> all;
  for (const auto& entry : fs::directory_iterator(root_)) {
    all.push_back(entry.path().filename().string());
  }
  std::sort(all.begin(), all.end());
  return all;
}

std::string readFile(const std::string& path) {
  std::stringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

}  // namespace qv::test
