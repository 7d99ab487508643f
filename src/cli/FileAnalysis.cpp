#include "cli/FileAnalysis.h"

#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <thread>
#include <utility>
#include <vector>

#include "audio/QVRecorderConsumer.h"
#include "cli/AnalysisSession.h"
#include "cli/AudioFileSource.h"
#include "cli/CurveOptions.h"
#include "platform/Assert.h"
#include "platform/ThreadName.h"

namespace qv::cli {
namespace {

// Simulated time runs in steps of 1/240 s, a grid on which every event falls: a capture
// period every 30 steps (125 ms), display ticks every 8 (1/30 s), finder ticks every 24.
// Within a step: the block first, then the display tick, then the finder tick; a delay the
// finder asks for takes effect from the next display tick on.
constexpr int64_t kStepsPerSecond = 240;
constexpr int64_t kPeriodSteps = 30;
constexpr int64_t kDisplaySteps = 8;
constexpr int64_t kFinderSteps = 24;
constexpr double kStartTime = 1000.0;

// Blocks per capture period: above 122.88 kHz a period holds more frames than a block may
// carry, so it comes as equal blocks spread over the period, as a device with a shorter
// callback period would deliver them.
int64_t blocksPerPeriod(uint32_t rate) {
  const uint32_t periodFrames = (rate + 7) / 8;
  const auto blocks = static_cast<int64_t>((periodFrames + kMaxBlockFrames - 1) / kMaxBlockFrames);
  QV_ASSERT(kPeriodSteps % blocks == 0);
  return blocks;
}

// How far (in blocks) reading may run ahead of the slower of the two threads.
constexpr int64_t kBlockSlots = 32;
// Set in a progress count once its side has stopped, so that nobody waits for it.
constexpr int64_t kEnded = int64_t{1} << 62;

double stepTime(int64_t step) { return kStartTime + static_cast<double>(step) / kStepsPerSecond; }

// Waits until `count` (without the kEnded bit) reaches `wanted` or kEnded is set; returns
// the count last seen.
int64_t waitFor(const std::atomic<int64_t>& count, int64_t wanted) {
  for (;;) {
    const int64_t seen = count.load(std::memory_order_acquire);
    if ((seen & ~kEnded) >= wanted || (seen & kEnded)) return seen;
    count.wait(seen, std::memory_order_acquire);
  }
}

void publish(std::atomic<int64_t>& count, int64_t value) {
  count.store(value, std::memory_order_release);
  count.notify_all();
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
    std::fprintf(stderr, "\ranalysing: %3.0f %%",
                 total_ > 0 ? 100.0 * double(done) / double(total_) : 0.0);
    std::fflush(stderr);
  }

 private:
  int64_t total_;
  bool enabled_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point last_{};
};

// The file's blocks in order, in a ring of slots: the display thread reads them (ahead of
// itself where slots are free) and delivers them to the display chain; the finder thread
// delivers the same blocks to the finder. A slot is read into again only once both have
// delivered its block. Block b (from 1) is due at step b·steps(); its sizes follow the rate
// exactly over time (5512 and 5513 frames alternate at 44.1 kHz), as a device's would.
class BlockRing {
 public:
  BlockRing(AudioFileSource& source, Progress& progress)
      : source_(source),
        progress_(progress),
        rate_(source.sampleRate()),
        blocksPerSecond_(8.0 * static_cast<double>(blocksPerPeriod(rate_))),
        steps_(kPeriodSteps / blocksPerPeriod(rate_)) {
    const auto capacity = static_cast<size_t>(rate_ / blocksPerSecond_) + 2;
    for (auto& slot : slots_) slot.samples.resize(2 * capacity);
  }

  // Steps from one block to the next.
  int64_t steps() const { return steps_; }

  struct Block {
    std::vector<float> samples;
    uint32_t frames = 0;
  };

  // Display thread: block `index`, read now if it is not yet; null at the end of the file.
  // Reads on as far as free slots allow, so that the finder need not wait for this thread.
  const Block* take(int64_t index) {
    while (read_ < index && !ended_) {
      // A slot is free once the finder has delivered its previous block too.
      waitFor(finderDelivered_, read_ + 1 - kBlockSlots);
      readOne();
    }
    // Block `index` itself stays in its slot until this thread has delivered it.
    while (!ended_ && read_ + 1 - kBlockSlots < index &&
           read_ + 1 - kBlockSlots <= finderDelivered_.load(std::memory_order_acquire))
      readOne();
    return index <= read_ ? &slot(index) : nullptr;
  }

  // Finder thread: waits for block `index`; null when the file ended before it.
  const Block* await(int64_t index) {
    const int64_t seen = waitFor(published_, index);
    return (seen & ~kEnded) >= index ? &slot(index) : nullptr;
  }
  void finderDelivered(int64_t index) { publish(finderDelivered_, index); }
  // The finder has stopped: nothing waits for it any more.
  void finderStopped() { publish(finderDelivered_, kEnded); }
  // No more blocks for the finder (end of the file, or the display side gave up).
  void close() {
    ended_ = true;
    publish(published_, read_ | kEnded);
  }

 private:
  Block& slot(int64_t index) { return slots_[static_cast<size_t>(index % kBlockSlots)]; }

  void readOne() {
    const int64_t index = read_ + 1;
    const auto due = static_cast<int64_t>(std::llround(double(index) * rate_ / blocksPerSecond_));
    Block& block = slot(index);
    const size_t got = source_.read(block.samples.data(), static_cast<size_t>(due - framesRead_));
    if (got == 0) {
      close();
      return;
    }
    block.frames = static_cast<uint32_t>(got);
    framesRead_ += static_cast<int64_t>(got);
    read_ = index;
    publish(published_, read_);
    progress_.update(framesRead_);
  }

  AudioFileSource& source_;
  Progress& progress_;
  uint32_t rate_;
  double blocksPerSecond_;
  int64_t steps_;
  std::array<Block, kBlockSlots> slots_;
  // Display thread only.
  int64_t read_ = 0;
  int64_t framesRead_ = 0;
  bool ended_ = false;
  // Shared: blocks read (kEnded once the file ended) and blocks the finder delivered.
  std::atomic<int64_t> published_{0};
  std::atomic<int64_t> finderDelivered_{0};
};

// The finder's readings, with the step of the tick that made them, from the finder thread
// to the display thread in the order they were made.
class FinderReadings {
 public:
  struct Request {
    int64_t step;
    session::FinderReading reading;
  };

  // Finder thread.
  void push(int64_t step, const session::FinderReading& reading) {
    const int64_t n = pushed_.load(std::memory_order_relaxed);
    // The finder runs at most kBlockSlots blocks ahead of the display, so far fewer
    // readings than this are ever outstanding.
    QV_ASSERT(n - popped_.load(std::memory_order_acquire) < kCapacity);
    ring_[static_cast<size_t>(n % kCapacity)] = {step, reading};
    pushed_.store(n + 1, std::memory_order_release);
  }

  // Display thread: the next reading made before `step`, if any.
  bool pop(int64_t step, session::FinderReading* reading) {
    const int64_t n = popped_.load(std::memory_order_relaxed);
    if (n == pushed_.load(std::memory_order_acquire)) return false;
    const Request& r = ring_[static_cast<size_t>(n % kCapacity)];
    if (r.step >= step) return false;
    *reading = r.reading;
    popped_.store(n + 1, std::memory_order_release);
    return true;
  }

 private:
  static constexpr int64_t kCapacity = 4 * kBlockSlots;
  std::array<Request, kCapacity> ring_{};
  std::atomic<int64_t> pushed_{0};
  std::atomic<int64_t> popped_{0};
};

// The finder's side of the simulated time, on its own thread and its own clock.
class FinderLane {
 public:
  FinderLane(session::MeasurementSession& session, BlockRing& blocks, ManualClock& clock)
      : session_(session), blocks_(blocks), clock_(clock), thread_([this] { run(); }) {}
  ~FinderLane() {
    if (thread_.joinable()) thread_.join();
  }

  // Display thread: waits until every finder tick before `step` has run and its reading is
  // queued.
  void waitBefore(int64_t step) { waitFor(ticks_, (step - 1) / kFinderSteps); }
  FinderReadings& readings() { return readings_; }

  // Rethrows what stopped the finder thread, if anything did.
  void join() {
    if (thread_.joinable()) thread_.join();
    if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
  }

 private:
  void run() {
    nameThisThread("delaylocator");
    try {
      int64_t blockIndex = 0;
      for (int64_t step = 1;; ++step) {
        clock_.set(stepTime(step));
        if (step % blocks_.steps() == 0) {
          const BlockRing::Block* block = blocks_.await(++blockIndex);
          if (!block) break;
          session_.deliverToFinder(block->samples.data(), block->frames);
          blocks_.finderDelivered(blockIndex);
        }
        if (step % kFinderSteps == 0) {
          if (const auto reading = session_.finderTick()) readings_.push(step, *reading);
          publish(ticks_, step / kFinderSteps);
        }
      }
    } catch (...) {
      error_ = std::current_exception();
    }
    blocks_.finderStopped();
    publish(ticks_, ticks_.load(std::memory_order_relaxed) | kEnded);
  }

  session::MeasurementSession& session_;
  BlockRing& blocks_;
  ManualClock& clock_;
  FinderReadings readings_;
  std::atomic<int64_t> ticks_{0};
  std::exception_ptr error_;
  std::thread thread_;  // last: starts once everything above exists
};

}  // namespace

AnalysisResult analyseFile(AudioFileSource& source, const Options& options,
                           const std::string& sourceName) {
  const uint32_t rate = source.sampleRate();
  // The display chain runs on this thread and the finder on its own, each in simulated
  // time on its own clock; the only coupling, the finder's readings (which may set the
  // delay), is handed over by step, so the outcome is the same whatever the threads' timing.
  auto clock = std::make_shared<ManualClock>(kStartTime);
  auto finderClock = std::make_shared<ManualClock>(kStartTime);
  session::MeasurementSession::Config config = sessionConfig(options, rate);
  config.driven = true;
  config.clock = clock;
  config.finderClock = finderClock;
  session::MeasurementSession session(config);
  applyDelayOptions(session, options);
  applyViewOptions(session, options);
  applyCurveOptions(session, options);
  session.announce(rate);
  RunLog log(session, options);

  Progress progress(source.frames());
  BlockRing blocks(source, progress);
  FinderLane finder(session, blocks, *finderClock);
  const auto applyReadings = [&](int64_t before) {
    session::FinderReading reading;
    while (finder.readings().pop(before, &reading)) session.applyFinderReading(reading);
  };
  try {
    int64_t blockIndex = 0;
    for (int64_t step = 1;; ++step) {
      clock->set(stepTime(step));
      if (step % blocks.steps() == 0) {
        const BlockRing::Block* block = blocks.take(++blockIndex);
        if (!block) break;
        session.deliverToDisplay(block->samples.data(), block->frames);
      }
      if (step % kDisplaySteps == 0) {
        finder.waitBefore(step);
        applyReadings(step);
        // Curves only for the snapshots asked for; the last tick below makes the outputs'.
        const double seconds = static_cast<double>(step) / kStepsPerSecond;
        if (log.wantsCurves(seconds)) {
          session.displayTick();
          log.afterDisplayTick(seconds);
        } else {
          session.advanceDisplay();
        }
      }
    }
  } catch (...) {
    blocks.close();
    try {
      finder.join();
    } catch (...) {  // the first problem is the one to report
    }
    throw;
  }
  finder.join();
  // One last tick so the final curves include the last block, after every finder tick.
  applyReadings(INT64_MAX);
  session.displayTick();
  AnalysisResult result = resultOf(session, options);
  log.fill(result);
  result.source = sourceName;
  return result;
}

}  // namespace qv::cli
