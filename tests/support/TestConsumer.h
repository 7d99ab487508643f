#pragma once
// A recorder consumer for tests: keeps every block it is given, with the block sizes and
// the format announcements, behind a lock (tests read from another thread).
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <vector>

#include "audio/QVRecorderConsumer.h"
#include "audio/QVRecorderDelegate.h"
#include "platform/Log.h"

namespace qv::test {

class TestConsumer final : public QVRecorderConsumer {
 public:
  void setInputChannelCountSamplingRateAudioDataTransport(
      uint32_t channelCount, uint32_t samplingRate,
      std::weak_ptr<QVAudioDataTransport> transport) override {
    std::lock_guard<std::mutex> lock(mutex_);
    channels_ = channelCount;
    rate_ = samplingRate;
    transport_ = std::move(transport);
    ++announcements_;
  }
  void getData(const void* data, uint32_t byteSize) override {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto* f = static_cast<const float*>(data);
    samples_.insert(samples_.end(), f, f + byteSize / 4);
    blockFrames_.push_back(byteSize / 8);
  }
  std::weak_ptr<QVAudioDataTransport> audioDataTransport() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    return transport_;
  }
  void setAudioDataTransport(std::weak_ptr<QVAudioDataTransport> transport) override {
    std::lock_guard<std::mutex> lock(mutex_);
    transport_ = std::move(transport);
  }
  uint32_t inputChannelCount() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    return channels_;
  }
  uint64_t outputChannelCount() const override { return 0; }
  uint64_t samplingRate() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    return rate_;
  }
  uint32_t requiredMinimumDataSize() const override { return 0; }

  int announcements() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return announcements_;
  }
  size_t blocks() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return blockFrames_.size();
  }
  std::vector<uint32_t> blockFrames() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return blockFrames_;
  }
  // Output channel `c` of everything received.
  std::vector<float> channel(int c) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<float> out;
    for (size_t i = static_cast<size_t>(c); i < samples_.size(); i += 2) out.push_back(samples_[i]);
    return out;
  }
  void clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    samples_.clear();
    blockFrames_.clear();
  }

 private:
  mutable std::mutex mutex_;
  uint32_t channels_ = 0;
  uint32_t rate_ = 0;
  int announcements_ = 0;
  std::weak_ptr<QVAudioDataTransport> transport_;
  std::vector<float> samples_;
  std::vector<uint32_t> blockFrames_;
};

// Records delegate calls: (started?, channel).
class TestRecorderDelegate final : public QVRecorderDelegate {
 public:
  void recorderStartedWithChannel(QVRecorder&, uint32_t channel) override {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.emplace_back(true, channel);
  }
  void recorderStoppedWithChannel(QVRecorder&, uint32_t channel) override {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.emplace_back(false, channel);
  }
  std::vector<std::pair<bool, uint32_t>> calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::pair<bool, uint32_t>> calls_;
};

// Collects log lines while alive.
class LogCapture {
 public:
  LogCapture() {
    previous_ = setLogSink([this](const std::string& line) {
      std::lock_guard<std::mutex> lock(mutex_);
      lines_.push_back(line);
    });
  }
  ~LogCapture() { setLogSink(previous_); }
  bool contains(const std::string& text) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& l : lines_) {
      if (l.find(text) != std::string::npos) return true;
    }
    return false;
  }
  size_t count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_.size();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
  LogSink previous_;
};

}  // namespace qv::test
