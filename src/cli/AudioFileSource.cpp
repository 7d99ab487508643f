#include "cli/AudioFileSource.h"

#include <sndfile.h>

#include <cmath>
#include <cstring>

#include "cli/CliError.h"

namespace qv::cli {

AudioFileSource::File AudioFileSource::open(const std::string& path) {
  SF_INFO info{};
  SNDFILE* handle = sf_open(path.c_str(), SFM_READ, &info);
  if (!handle) throw CliError(path + ": cannot read audio file: " + sf_strerror(nullptr));
  File file;
  file.handle = handle;
  file.path = path;
  file.channels = info.channels;
  file.frames = info.frames;
  char log[8192] = {};
  sf_command(handle, SFC_GET_LOG_INFO, log, sizeof log);
  // libsndfile quietly shortens a data chunk that runs past the end of the file; its log
  // is the only place that tells.
  const bool truncated = std::strstr(log, "should be") != nullptr && std::strstr(log, "data") != nullptr;
  if (truncated || info.frames <= 0 || info.samplerate <= 0 || info.channels <= 0) {
    sf_close(handle);
    if (truncated) throw CliError(path + ": the file is truncated");
    throw CliError(path + ": the file holds no audio");
  }
  return file;
}

std::unique_ptr<AudioFileSource> AudioFileSource::openMultichannel(const std::string& path,
                                                                   int meas, int ref) {
  std::unique_ptr<AudioFileSource> source(new AudioFileSource());
  source->files_.push_back(open(path));
  File& f = source->files_[0];
  SF_INFO info{};
  sf_command(f.handle, SFC_GET_CURRENT_SF_INFO, &info, sizeof info);
  if (meas >= f.channels || ref >= f.channels)
    throw CliError(path + ": has " + std::to_string(f.channels) + " channel(s); --meas " +
                   std::to_string(meas) + " --ref " + std::to_string(ref) + " is out of range");
  source->meas_ = meas;
  source->ref_ = ref;
  source->rate_ = static_cast<uint32_t>(info.samplerate);
  source->frames_ = f.frames;
  return source;
}

std::unique_ptr<AudioFileSource> AudioFileSource::openPair(const std::string& measPath,
                                                           const std::string& refPath) {
  std::unique_ptr<AudioFileSource> source(new AudioFileSource());
  source->files_.push_back(open(measPath));
  source->files_.push_back(open(refPath));
  SF_INFO a{}, b{};
  sf_command(source->files_[0].handle, SFC_GET_CURRENT_SF_INFO, &a, sizeof a);
  sf_command(source->files_[1].handle, SFC_GET_CURRENT_SF_INFO, &b, sizeof b);
  for (const File& f : source->files_)
    if (f.channels != 1)
      throw CliError(f.path + ": --meas-file and --ref-file must be mono, this has " +
                     std::to_string(f.channels) + " channels");
  if (a.samplerate != b.samplerate)
    throw CliError("the files have different rates: " + std::to_string(a.samplerate) + " Hz (" +
                   measPath + ") and " + std::to_string(b.samplerate) + " Hz (" + refPath + ")");
  source->meas_ = 0;
  source->ref_ = 0;
  source->rate_ = static_cast<uint32_t>(a.samplerate);
  // Two files of different lengths are analysed over the shorter one.
  source->frames_ = std::min(source->files_[0].frames, source->files_[1].frames);
  return source;
}

AudioFileSource::~AudioFileSource() {
  for (File& f : files_)
    if (f.handle) sf_close(f.handle);
}

void AudioFileSource::checkFinite(const float* samples, size_t count, const File& file) const {
  for (size_t i = 0; i < count; ++i) {
    if (!std::isfinite(samples[i])) {
      const int64_t frame = file.readSoFar + static_cast<int64_t>(i) / file.channels;
      throw CliError(file.path + ": sample " + std::to_string(frame) + " is not a finite number");
    }
  }
}

size_t AudioFileSource::readFrom(File& file, size_t maxFrames) {
  auto& buffer = &file == &files_[0] ? scratch_ : scratch2_;
  buffer.resize(maxFrames * static_cast<size_t>(file.channels));
  const sf_count_t got = sf_readf_float(file.handle, buffer.data(), static_cast<sf_count_t>(maxFrames));
  if (got < 0 || sf_error(file.handle) != SF_ERR_NO_ERROR)
    throw CliError(file.path + ": read error: " + sf_strerror(file.handle));
  checkFinite(buffer.data(), static_cast<size_t>(got) * static_cast<size_t>(file.channels), file);
  file.readSoFar += got;
  if (got == 0 && file.readSoFar < file.frames)
    throw CliError(file.path + ": the file is truncated (" + std::to_string(file.readSoFar) +
                   " of " + std::to_string(file.frames) + " frames)");
  return static_cast<size_t>(got);
}

size_t AudioFileSource::read(float* out, size_t maxFrames) {
  const int64_t left = frames_ - files_[0].readSoFar;
  if (left <= 0) return 0;
  maxFrames = std::min<size_t>(maxFrames, static_cast<size_t>(left));
  if (files_.size() == 1) {
    File& f = files_[0];
    const size_t got = readFrom(f, maxFrames);
    const size_t ch = static_cast<size_t>(f.channels);
    for (size_t i = 0; i < got; ++i) {
      out[2 * i] = scratch_[i * ch + static_cast<size_t>(meas_)];
      out[2 * i + 1] = scratch_[i * ch + static_cast<size_t>(ref_)];
    }
    return got;
  }
  const size_t gotMeas = readFrom(files_[0], maxFrames);
  const size_t gotRef = readFrom(files_[1], gotMeas);
  const size_t got = std::min(gotMeas, gotRef);
  for (size_t i = 0; i < got; ++i) {
    out[2 * i] = scratch_[i];
    out[2 * i + 1] = scratch2_[i];
  }
  return got;
}

}  // namespace qv::cli
