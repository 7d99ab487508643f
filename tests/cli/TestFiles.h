#pragma once
// quorvex-analyze run as a user would, on sound files the tests make themselves, and the
// names its outputs leave in a folder. Test thread only.
#include <sndfile.h>
#include <unistd.h>

#include <cstddef>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/TempFolder.h"

namespace qv::cli {

using TempDir = test::TempFolder;
using ProgramRun = test::CommandResult;
using test::readFile;
inline std::string quoted(const std::string& s) { return test::shellQuoted(s); }

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

// Two channels of a known system: channel 1 the reference (Gaussian noise of RMS 0.1),
// channel 0 the reference `delay` samples late, scaled by `gain`.
inline void writeKnownSystem(const std::string& path, int rate, double seconds, float gain = 1.0f,
                             std::size_t delay = 0, unsigned seed = 3) {
  std::mt19937 gen(seed);
  std::normal_distribution<float> noise(0.0f, 0.1f);
  const auto n = static_cast<std::size_t>(seconds * rate);
  std::vector<float> frames(2 * n);
  for (std::size_t i = 0; i < n; ++i) frames[2 * i + 1] = noise(gen);
  for (std::size_t i = delay; i < n; ++i) frames[2 * i] = gain * frames[2 * (i - delay) + 1];
  writeSoundFile(path, rate, 2, frames);
}

// `env` is a command prefix: NAME=value words, or a program such as setpriv.
inline ProgramRun runAnalyze(const TempDir& dir, const std::vector<std::string>& args,
                             const std::string& env = "") {
  std::string line = quoted(QV_ANALYZE_PATH);
  for (const auto& a : args) line += " " + quoted(a);
  return test::runCommand(line, dir.root(), env);
}

// A command prefix for runAnalyze that runs the program as "nobody" when the test runs
// as root, so that a program that would replace /dev/null or /dev/stdout fails for want
// of permission instead of doing it.
inline std::string asOrdinaryUser(const TempDir& dir) {
  if (::geteuid() != 0) return "";
  std::filesystem::permissions(dir.root(), std::filesystem::perms::all);
  return "HOME=" + quoted(dir.root()) + " XDG_CACHE_HOME=" + quoted(dir.path(".cache")) +
         " setpriv --reuid=65534 --regid=65534 --clear-groups";
}

// The names in `folder` that hold `part`.
inline std::vector<std::string> namesWith(const std::string& folder, const std::string& part) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.find(part) != std::string::npos) names.push_back(name);
  }
  return names;
}

}  // namespace qv::cli
