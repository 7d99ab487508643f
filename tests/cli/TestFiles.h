#pragma once
// Sound files made by the tests themselves.
#include <sndfile.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "support/TempFolder.h"

namespace qv::cli {

using TempDir = test::TempFolder;

// Float WAV (or by extension 24-bit FLAC or 16-bit AIFF) of interleaved samples.
inline void writeSoundFile(const std::string& path, int rate, int channels,
                           const std::vector<float>& interleaved) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = channels;
  const auto endsWith = [&](const std::string& tail) {
    return path.size() > tail.size() &&
           path.compare(path.size() - tail.size(), tail.size(), tail) == 0;
  };
  info.format = endsWith(".flac")   ? (SF_FORMAT_FLAC | SF_FORMAT_PCM_24)
                : endsWith(".aiff") ? (SF_FORMAT_AIFF | SF_FORMAT_PCM_16)
                                    : (SF_FORMAT_WAV | SF_FORMAT_FLOAT);
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!f) throw std::runtime_error("cannot write " + path);
  if (!interleaved.empty())
    sf_writef_float(f, interleaved.data(), static_cast<sf_count_t>(interleaved.size()) / channels);
  sf_close(f);
}

}  // namespace qv::cli
