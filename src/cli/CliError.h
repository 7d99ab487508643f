#pragma once
// A problem with the user's input: reported as one line, exit status 2.
#include <stdexcept>
#include <string>

namespace qv::cli {

class CliError : public std::runtime_error {
 public:
  explicit CliError(const std::string& what) : std::runtime_error(what) {}
};

}  // namespace qv::cli
