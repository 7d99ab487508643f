#pragma once
// Two channels (measurement, reference) read from audio files in blocks, as the recorder
// would deliver them: interleaved float frames, measurement first. Either one
// multichannel file with two channel indices, or two mono files of the same rate.
// Problems with the files (missing, unreadable, truncated, empty, NaN samples, a rate out
// of range, channel out of range, different rates) throw CliError naming the file.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

typedef struct sf_private_tag SNDFILE;

namespace qv::cli {

class AudioFileSource {
 public:
  // The sampling rates a file may have; others are refused.
  static constexpr int kMinSampleRate = 8000;
  static constexpr int kMaxSampleRate = 192000;

  static std::unique_ptr<AudioFileSource> openMultichannel(const std::string& path, int meas,
                                                           int ref);
  static std::unique_ptr<AudioFileSource> openPair(const std::string& measPath,
                                                   const std::string& refPath);
  ~AudioFileSource();

  uint32_t sampleRate() const { return rate_; }
  int64_t frames() const { return frames_; }

  // Reads up to `maxFrames` interleaved frames into `out` (2·maxFrames floats); returns
  // how many it read, 0 at the end of the file.
  size_t read(float* out, size_t maxFrames);

 private:
  struct File {
    SNDFILE* handle = nullptr;
    std::string path;
    int channels = 0;
    int64_t frames = 0;
    int64_t readSoFar = 0;
  };
  AudioFileSource() = default;
  static File open(const std::string& path);
  size_t readFrom(File& file, size_t maxFrames);
  void checkFinite(const float* samples, size_t count, const File& file) const;

  std::vector<File> files_;
  int meas_ = 0, ref_ = 1;  // channel indices (per file for two mono files: 0 and 0)
  uint32_t rate_ = 0;
  int64_t frames_ = 0;
  std::vector<float> scratch_, scratch2_;
};

}  // namespace qv::cli
