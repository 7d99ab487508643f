#pragma once
// Reading a curve file's text: regular files only (never waiting on a FIFO or reading a
// device), of bounded size. Stateless; any thread.
#include <cstddef>
#include <string>

#include "curves/CurveTextTable.h"

namespace qv::curves {

class CurveFile {
 public:
  // Far above any curve file (a million points take some 40 MB).
  static constexpr std::size_t kMaxBytes = std::size_t{64} << 20;

  // The file's bytes; false with a message naming the file when it cannot be read.
  static bool readText(const std::string& path, std::string* text, CurveFileError* error);
  // The last path component ("mic.txt" of "/home/ann/mic.txt").
  static std::string fileName(const std::string& path);
};

}  // namespace qv::curves
