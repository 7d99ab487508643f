// quorvex-analyze: the measurement engine of Quorvex on files and devices.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/CliError.h"
#include "cli/Commands.h"
#include "cli/Options.h"
#include "platform/Log.h"

int main(int argc, char** argv) {
  using namespace qv::cli;
  // The engine's lifecycle traces mean nothing to someone running a command; everything
  // else it logs (overflows, device trouble) still reaches stderr.
  qv::setLogSink([](const std::string& line) {
    if (line.rfind("TFDataSource Dealloc", 0) == 0) return;
    std::fprintf(stderr, "%s\n", line.c_str());
  });
  try {
    const Options options = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    return runCommand(options);
  } catch (const CliError& e) {
    std::fprintf(stderr, "quorvex-analyze: %s\n", e.what());
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quorvex-analyze: %s\n", e.what());
    return 1;
  }
}
