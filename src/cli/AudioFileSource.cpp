#include "cli/AudioFileSource.h"

#include <sndfile.h>

#include <cmath>
#include <cstring>

#include "cli/CliError.h"

namespace qv::cli {
namespace {

// Bytes per sample of the uncompressed encodings; 0 for the others, whose size on disk
// does not follow from the frame count.
int bytesPerSample(int format) {
  switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_ULAW:
    case SF_FORMAT_ALAW:
      return 1;
    case SF_FORMAT_PCM_16:
      return 2;
    case SF_FORMAT_PCM_24:
      return 3;
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
      return 4;
    case SF_FORMAT_DOUBLE:
      return 8;
    default:
      return 0;
  }
}

// The frames the header's sample-data chunk declares, or -1 where that cannot be told
// (another container or encoding, or a length left open by a streaming writer).
int64_t declaredFrames(SNDFILE* handle, const SF_INFO& info) {
  const int sampleBytes = bytesPerSample(info.format);
  if (sampleBytes == 0 || info.channels <= 0) return -1;
  const char* id = "data";
  uint32_t headerBytes = 0;  // chunk bytes in front of the samples
  switch (info.format & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_WAV:
    case SF_FORMAT_WAVEX:
      break;
    case SF_FORMAT_AIFF:
      id = "SSND";
      headerBytes = 8;  // offset and block size
      break;
    case SF_FORMAT_CAF:
      headerBytes = 4;  // edit count
      break;
    default:
      return -1;
  }
  SF_CHUNK_INFO chunk{};
  std::strcpy(chunk.id, id);
  chunk.id_size = 4;
  SF_CHUNK_ITERATOR* it = sf_get_chunk_iterator(handle, &chunk);
  if (!it || sf_get_chunk_size(it, &chunk) != SF_ERR_NO_ERROR) return -1;
  if (chunk.datalen == 0 || chunk.datalen == 0xFFFFFFFFu || chunk.datalen < headerBytes) return -1;
  return (chunk.datalen - headerBytes) / (static_cast<int64_t>(sampleBytes) * info.channels);
}

}  // namespace

AudioFileSource::File AudioFileSource::open(const std::string& path) {
  SF_INFO info{};
  SNDFILE* handle = sf_open(path.c_str(), SFM_READ, &info);
  if (!handle) throw CliError(path + ": cannot read audio file: " + sf_strerror(nullptr));
  File file;
  file.handle = handle;
  file.path = path;
  file.channels = info.channels;
  file.frames = info.frames;
  const auto refuse = [&](const std::string& why) {
    sf_close(handle);
    throw CliError(path + ": " + why);
  };
  if (info.frames <= 0 || info.samplerate <= 0 || info.channels <= 0)
    refuse("the file holds no audio");
  // libsndfile quietly shortens a sample-data chunk that runs past the end of the file
  // to what is there: fewer frames than the header declares.
  const int64_t declared = declaredFrames(handle, info);
  if (declared > info.frames) {
    refuse("the file is truncated (" + std::to_string(info.frames) + " of " +
           std::to_string(declared) + " frames)");
  }
  if (info.samplerate < kMinSampleRate || info.samplerate > kMaxSampleRate) {
    refuse("the sample rate " + std::to_string(info.samplerate) + " Hz lies outside " +
           std::to_string(kMinSampleRate) + " to " + std::to_string(kMaxSampleRate) + " Hz");
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
                   std::to_string(meas) + " --ref " + std::to_string(ref) +
                   " is out of range (channels are counted from 0)");
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
  const sf_count_t got =
      sf_readf_float(file.handle, buffer.data(), static_cast<sf_count_t>(maxFrames));
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
