#pragma once
// The outputs of one run, replaced together: every regular file is written in full under
// its temporary name first, then the streams (standard output, FIFOs, devices), and only
// then are the files renamed into place. A failure anywhere, or a terminating signal,
// leaves every earlier file as it was. Used by one thread.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/OutputFile.h"

namespace qv::cli {

class OutputSet {
 public:
  void add(const std::string& path, std::string contents);
  // Throws CliError naming the output that failed.
  void write();

 private:
  std::vector<std::pair<std::unique_ptr<OutputFile>, std::string>> outputs_;
};

}  // namespace qv::cli
