#pragma once
// A folder of the test's own, removed with everything in it when the test ends (also after
// the test made it read-only), and whole-file reads and writes.
#include <string>
#include <vector>

namespace qv::test {

class TempFolder {
 public:
  // Under `base`, else under QUORVEX_TEST_TMP (the build's test folder), else the system's
  // temporary folder.
  explicit TempFolder(const std::string& base = {});
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& root() const { return root_; }
  const std::string& path() const { return root_; }
  std::string path(const std::string& name) const { return root_ + "/" + name; }
  std::vector<std::string> names() const;  // sorted

 private:
  std::string root_;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);

}  // namespace qv::test
