#pragma once
// The package that the build made (by the package_build test before this program runs),
// unpacked with dpkg -x into a scratch root. Test thread only.
#include <string>

#include "support/ChildProcess.h"
#include "support/TempFolder.h"

namespace qv::test {

class UnpackedPackage {
 public:
  UnpackedPackage()
      : deb_(std::string(QV_PACKAGE_DIR) + "/quorvex_" QV_VERSION "_" QV_DEB_ARCH ".deb") {
    if (access(deb_.c_str(), R_OK) != 0) {
      problem_ = deb_ + " is missing: run the package_build test (or ctest -L package) first";
      return;
    }
    const CommandResult x = runCommand("dpkg -x " + shellQuoted(deb_) + " root", scratch_.path());
    if (x.status != 0) problem_ = "dpkg -x failed: " + x.err;
  }

  bool ok() const { return problem_.empty(); }
  const std::string& problem() const { return problem_; }
  const std::string& deb() const { return deb_; }
  std::string root() const { return scratch_.path("root"); }
  const std::string& scratch() const { return scratch_.path(); }

  std::string field(const std::string& name) const {
    std::string v =
        runCommand("dpkg-deb -f " + shellQuoted(deb_) + " " + name, scratch_.path()).out;
    while (!v.empty() && v.back() == '\n') v.pop_back();
    return v;
  }

 private:
  TempFolder scratch_;
  std::string deb_;
  std::string problem_;
};

}  // namespace qv::test
