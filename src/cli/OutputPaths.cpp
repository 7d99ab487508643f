#include "cli/OutputPaths.h"

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "cli/CliError.h"

namespace qv::cli {
namespace {

namespace fs = std::filesystem;

// The same file: one inode when both exist (hard links, symbolic links, "./" prefixes),
// otherwise the same place once "." and ".." and links are resolved.
bool samePlace(const std::string& a, const std::string& b) {
  std::error_code ec;
  if (fs::equivalent(a, b, ec) && !ec) return true;
  const fs::path ca = fs::weakly_canonical(fs::absolute(a, ec), ec);
  if (ec) return a == b;
  const fs::path cb = fs::weakly_canonical(fs::absolute(b, ec), ec);
  if (ec) return a == b;
  return ca == cb;
}

}  // namespace

void checkOutputPaths(const Options& options) {
  std::vector<std::string> inputs;
  for (const std::string* input : {&options.input, &options.measFile, &options.refFile}) {
    if (!input->empty()) inputs.push_back(*input);
  }
  std::vector<std::pair<const char*, std::string>> outputs;
  if (options.out) outputs.emplace_back("--out", *options.out);
  if (options.json) outputs.emplace_back("--json", *options.json);
  if (options.svg) outputs.emplace_back("--svg", *options.svg);

  for (std::size_t i = 0; i < outputs.size(); ++i) {
    const auto& [option, path] = outputs[i];
    for (const std::string& input : inputs) {
      if (samePlace(path, input)) {
        throw CliError(std::string(option) + " " + path +
                       " names an input file; the recording would be overwritten");
      }
    }
    for (std::size_t j = 0; j < i; ++j) {
      if (samePlace(path, outputs[j].second)) {
        throw CliError(std::string(option) + " and " + outputs[j].first + " name the same file " +
                       path);
      }
    }
  }
}

}  // namespace qv::cli
