#pragma once
// What the trace benchmarks share: a temporary folder for the database and a capture's
// worth of curves.
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace qv::bench {

constexpr std::int64_t kPoints = 1100;

class Folder {
 public:
  explicit Folder(const std::string& prefix) {
    std::string pattern =
        std::filesystem::temp_directory_path().string() + "/" + prefix + "-XXXXXX";
    path_ = ::mkdtemp(pattern.data()) ? pattern : std::string();
  }
  ~Folder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Magnitude, phase and coherence of kPoints bands each, one buffer.
inline std::vector<float> liveCurves() {
  std::vector<float> buffer(3 * kPoints);
  for (std::size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<float>(i % 360) - 180.0f;
  return buffer;
}

}  // namespace qv::bench
