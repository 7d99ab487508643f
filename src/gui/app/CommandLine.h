#pragma once
// The desktop program's own options: --screenshot FILE [--after SECONDS], --version,
// --help. Qt's options (-platform, -style, …) are left for Qt. Parsed before any
// application object exists, so --help and --version work without a display. Any thread.
#include <optional>
#include <string>
#include <vector>

namespace qv::gui {

struct CommandLine {
  bool help = false;
  bool version = false;
  std::optional<std::string> screenshot;
  double afterSeconds = 5.0;
  // Not empty when the command line is wrong: one line saying what.
  std::string error;

  static CommandLine parse(const std::vector<std::string>& arguments);
  static std::string helpText();
  static std::string versionText();
};

}  // namespace qv::gui
