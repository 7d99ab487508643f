#include "cli/FileAnalysis.h"

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

#include "audio/QVRecorderConsumer.h"
#include "cli/AnalysisSession.h"
#include "cli/AudioFileSource.h"
#include "platform/Assert.h"

namespace qv::cli {
namespace {

// Simulated time runs in steps of 1/240 s, a grid on which every event falls: a capture
// period every 30 steps (125 ms), display ticks every 8 (1/30 s), finder ticks every 24.
constexpr int kStepsPerSecond = 240;
constexpr int kPeriodSteps = 30;
constexpr int kDisplaySteps = 8;
constexpr int kFinderSteps = 24;
constexpr double kStartTime = 1000.0;

// Blocks per capture period: above 122.88 kHz a period holds more frames than a block may
// carry, so it comes as equal blocks spread over the period, as a device with a shorter
// callback period would deliver them.
int blocksPerPeriod(uint32_t rate) {
  const uint32_t periodFrames = (rate + 7) / 8;
  const int blocks = static_cast<int>((periodFrames + kMaxBlockFrames - 1) / kMaxBlockFrames);
  QV_ASSERT(kPeriodSteps % blocks == 0);
  return blocks;
}

class Progress {
 public:
  explicit Progress(int64_t total) : total_(total), enabled_(isatty(STDERR_FILENO) == 1) {}
  ~Progress() {
    if (shown_) std::fprintf(stderr, "\r%40s\r", "");
  }
  void update(int64_t done) {
    if (!enabled_) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - start_ < std::chrono::seconds(2) || now - last_ < std::chrono::milliseconds(250))
      return;
    last_ = now;
    shown_ = true;
    std::fprintf(stderr, "\ranalysing: %3.0f %%", total_ > 0 ? 100.0 * double(done) / double(total_) : 0.0);
    std::fflush(stderr);
  }

 private:
  int64_t total_;
  bool enabled_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point last_{};
};

}  // namespace

AnalysisResult analyseFile(AudioFileSource& source, const Options& options,
                           const std::string& sourceName) {
  const uint32_t rate = source.sampleRate();
  auto clock = std::make_shared<ManualClock>(kStartTime);
  AnalysisSession session(rate, options, clock);
  session.announce(rate);

  // Block sizes follow the rate exactly over time (5512 and 5513 frames alternate at
  // 44.1 kHz), as a device's callbacks would.
  const int blocks = blocksPerPeriod(rate);
  const int blockSteps = kPeriodSteps / blocks;
  const double blocksPerSecond = 8.0 * blocks;
  std::vector<float> block(2 * (static_cast<size_t>(rate / blocksPerSecond) + 2));
  Progress progress(source.frames());
  int64_t framesRead = 0;
  int64_t blockIndex = 0;
  for (int64_t step = 1;; ++step) {
    clock->set(kStartTime + static_cast<double>(step) / kStepsPerSecond);
    if (step % blockSteps == 0) {
      ++blockIndex;
      const int64_t due =
          static_cast<int64_t>(std::llround(double(blockIndex) * rate / blocksPerSecond));
      const size_t want = static_cast<size_t>(due - framesRead);
      const size_t got = source.read(block.data(), want);
      if (got == 0) break;
      session.deliver(block.data(), static_cast<uint32_t>(got));
      framesRead += static_cast<int64_t>(got);
      progress.update(framesRead);
    }
    if (step % kDisplaySteps == 0) session.displayTick();
    if (step % kFinderSteps == 0) session.finderTick();
  }
  // One last tick so the final curves include the last block.
  session.displayTick();
  AnalysisResult result = session.result();
  result.source = sourceName;
  return result;
}

}  // namespace qv::cli
