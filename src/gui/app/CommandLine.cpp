#include "gui/app/CommandLine.h"

#include <cmath>
#include <cstdlib>
#include <set>

namespace qv::gui {
namespace {

// Qt's own options that take a value, and those that do not.
const std::set<std::string> kQtWithValue = {
    "platform", "platformpluginpath", "platformtheme", "style",       "stylesheet", "display",
    "geometry", "qwindowgeometry",    "qwindowtitle",  "qwindowicon", "session",    "plugin"};
const std::set<std::string> kQtFlags = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

std::string bareName(const std::string& arg) {
  size_t i = 0;
  while (i < arg.size() && i < 2 && arg[i] == '-') ++i;
  return arg.substr(i);
}

}  // namespace

CommandLine CommandLine::parse(const std::vector<std::string>& arguments) {
  CommandLine c;
  bool afterGiven = false;
  for (size_t i = 1; i < arguments.size(); ++i) {
    std::string arg = arguments[i];
    std::string inlineValue;
    bool hasInline = false;
    if (const size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      inlineValue = arg.substr(eq + 1);
      arg.resize(eq);
      hasInline = true;
    }
    auto value = [&](std::string* out) {
      if (hasInline) {
        *out = inlineValue;
        return true;
      }
      if (i + 1 >= arguments.size()) return false;
      *out = arguments[++i];
      return true;
    };
    if (arg == "--help" || arg == "-h") {
      c.help = true;
    } else if (arg == "--version" || arg == "-v") {
      c.version = true;
    } else if (arg == "--screenshot") {
      std::string file;
      if (!value(&file) || file.empty()) {
        c.error = "--screenshot needs a file name";
        return c;
      }
      c.screenshot = file;
    } else if (arg == "--after") {
      std::string text;
      if (!value(&text)) {
        c.error = "--after needs a number of seconds";
        return c;
      }
      char* end = nullptr;
      const double seconds = std::strtod(text.c_str(), &end);
      if (text.empty() || *end != '\0' || !std::isfinite(seconds) || seconds < 0 ||
          seconds > 3600) {
        c.error = "--after must be a number of seconds from 0 to 3600, not \"" + text + "\"";
        return c;
      }
      c.afterSeconds = seconds;
      afterGiven = true;
    } else if (!arg.empty() && arg[0] == '-' && kQtWithValue.count(bareName(arg))) {
      if (!hasInline) ++i;  // Qt reads the value itself
    } else if (!arg.empty() && arg[0] == '-' && kQtFlags.count(bareName(arg))) {
      // Qt's
    } else {
      c.error = "unknown argument \"" + arguments[i] + "\" (see --help)";
      return c;
    }
  }
  if (afterGiven && !c.screenshot) {
    c.error = "--after goes with --screenshot";
  }
  return c;
}

std::string CommandLine::helpText() {
  return "Usage: quorvex [--screenshot FILE [--after SECONDS]]\n"
         "\n"
         "Quorvex, a real-time dual-channel FFT transfer-function analyser.\n"
         "\n"
         "Options:\n"
         "  --screenshot FILE   write a PNG of the main window after SECONDS and quit\n"
         "  --after SECONDS     when to take the screenshot (default 5)\n"
         "  --version           print the version and quit\n"
         "  --help              print this help and quit\n"
         "\n"
         "Keyboard: C capture a trace, Space start or pause, Delete delete the selected\n"
         "traces, Ctrl+, preferences, Ctrl+Q quit.\n";
}

std::string CommandLine::versionText() { return std::string("quorvex ") + QV_VERSION + "\n"; }

}  // namespace qv::gui
