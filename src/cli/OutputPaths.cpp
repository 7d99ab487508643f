#include "cli/OutputPaths.h"

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "cli/CliError.h"
#include "platform/OutputFile.h"
#include "traces/TraceDatabase.h"
#include "traces/TraceFolders.h"

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

// Two outputs into one stream would run into each other; /dev/null takes any number.
bool sameOutput(const std::string& a, const std::string& b) {
  const int fa = OutputFile::standardDescriptor(a), fb = OutputFile::standardDescriptor(b);
  if (fa >= 0 || fb >= 0) return fa == fb;
  std::error_code ec;
  if (fs::is_character_file(a, ec)) return false;
  return samePlace(a, b);
}

}  // namespace

void checkOutputPaths(const Options& options) {
  std::vector<std::string> inputs;
  for (const std::string* input : {&options.input, &options.measFile, &options.refFile}) {
    if (!input->empty()) inputs.push_back(*input);
  }
  const std::string database = TraceFolders::dataFolder() + "/" + TraceDatabase::kFileName;
  std::vector<std::pair<const char*, std::string>> outputs;
  if (options.out) {
    outputs.emplace_back("--out", *options.out);
  } else if (options.command == Command::File || options.command == Command::Live) {
    outputs.emplace_back("the CSV (no --out)", "-");
  }
  if (options.json) outputs.emplace_back("--json", *options.json);
  if (options.svg) outputs.emplace_back("--svg", *options.svg);
  if (options.timeline) outputs.emplace_back("--timeline", *options.timeline);
  if (options.snapshotEvery) {
    // A folder, or a place where one can be made.
    std::error_code ec;
    fs::path dir = fs::absolute(options.snapshotDir, ec).lexically_normal();
    if (dir.filename().empty()) dir = dir.parent_path();  // "out/"
    if (fs::exists(dir, ec) ? !fs::is_directory(dir, ec) : !fs::is_directory(dir.parent_path(), ec))
      throw CliError("--snapshot-every: " + options.snapshotDir +
                     " is not a folder, nor can one be made there");
  }

  for (std::size_t i = 0; i < outputs.size(); ++i) {
    const auto& [option, path] = outputs[i];
    if (OutputFile::standardDescriptor(path) < 0) {
      for (const std::string& input : inputs) {
        if (samePlace(path, input)) {
          throw CliError(std::string(option) + " " + path +
                         " names an input file; the recording would be overwritten");
        }
      }
      for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
        if (samePlace(path, database + suffix)) {
          throw CliError(std::string(option) + " " + path +
                         " names the trace database; the traces would be lost");
        }
      }
    }
    for (std::size_t j = 0; j < i; ++j) {
      if (sameOutput(path, outputs[j].second)) {
        throw CliError(std::string(option) + " and " + outputs[j].first + " name the same file " +
                       path);
      }
    }
  }
}

}  // namespace qv::cli
