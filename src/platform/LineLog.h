#pragma once
// A log file of whole lines that any number of processes append to. A line is written
// whole or not at all: a write cut short (a full disk, a file size limit) is truncated
// back to where it began, and a torn last line left by an earlier run is cut off before
// the next line goes in. When a line would take the file past `rotateBytes`, the file
// moves to PATH.1 (replacing the previous one) and a new file begins.
// One thread at a time per object; processes take turns through an advisory file lock.
#include <cstdint>
#include <string>

namespace qv {

class LineLog {
 public:
  LineLog(std::string path, std::uint64_t rotateBytes);

  // Appends `line` and a newline (the line itself holds none). False with *error set
  // when it could not be written; the file then ends as it did before.
  bool append(const std::string& line, std::string* error);

  const std::string& path() const { return path_; }
  std::string rotatedPath() const { return path_ + ".1"; }

 private:
  std::string path_;
  std::uint64_t rotateBytes_;
};

}  // namespace qv
