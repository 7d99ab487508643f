#pragma once
// Scratch folders and forked children for the file tests: a child can change limits of
// its own process, and can give up root so that a test of a system path (/dev/stdout)
// cannot damage it when the code under test is wrong.
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace qv::test {

class ScratchFolder {
 public:
  ScratchFolder() {
    const char* base = std::getenv("QUORVEX_TEST_TMP");
    std::string pattern =
        (base && *base ? base : std::filesystem::temp_directory_path().string()) + "/qv-XXXXXX";
    std::filesystem::create_directories(std::filesystem::path(pattern).parent_path());
    path_ = ::mkdtemp(pattern.data()) ? pattern : std::string();
  }
  ~ScratchFolder() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  std::string path(const std::string& name) const { return path_ + "/" + name; }
  const std::string& root() const { return path_; }
  std::vector<std::string> names() const {  // sorted
    std::vector<std::string> all;
    for (const auto& e : std::filesystem::directory_iterator(path_)) {
      all.push_back(e.path().filename().string());
    }
    std::sort(all.begin(), all.end());
    return all;
  }

 private:
  std::string path_;
};

inline std::string contentsOf(const std::string& path) {
  std::stringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

inline void putFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// Runs `body` in a forked child and returns the raw wait status (body's result is the
// exit code). With `asOrdinaryUser`, a child of root first becomes "nobody".
inline int runInChild(const std::function<int()>& body, bool asOrdinaryUser = false) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (asOrdinaryUser && ::geteuid() == 0 &&
        (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) {
      ::_exit(125);
    }
    ::_exit(body());
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return status;
}

inline bool exitedWith(int status, int code) {
  return WIFEXITED(status) && WEXITSTATUS(status) == code;
}

}  // namespace qv::test
