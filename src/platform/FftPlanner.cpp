#include "platform/FftPlanner.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <string>
#include <thread>

#include "platform/Assert.h"
#include "platform/Log.h"
#include "platform/ThreadName.h"

namespace qv::fft {
namespace {

// A start asks for its plans in a burst (the display's, then the delay finder's): they all
// get estimated plans before the worker takes the planner for a measurement.
constexpr auto kSettle = std::chrono::milliseconds(1000);

std::string wisdomPath() {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  std::string dir;
  if (cache && *cache) {
    dir = cache;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    dir = std::string(home) + "/.cache";
  } else {
    return {};
  }
  mkdir(dir.c_str(), 0755);
  dir += "/Quorvex";
  mkdir(dir.c_str(), 0755);
  return dir + "/fftw-wisdom";
}

// FFTW overwrites the arrays while it measures: it gets arrays of its own, of the
// alignment the plan is for (one float past an aligned start when it is not).
fftwf_plan makePlan(const PlanSpec& spec, unsigned flags) {
  const auto n = static_cast<size_t>(spec.n);
  const size_t shift = spec.aligned ? 0 : 1;
  auto a = allocateFloats(2 * n + 2 + shift);
  auto b = allocateFloats(2 * n + 2 + shift);
  float* in = a.get() + shift;
  float* out = b.get() + shift;
  if (!spec.aligned) flags |= FFTW_UNALIGNED;
  switch (spec.type) {
    case PlanSpec::Type::Complex:
      return fftwf_plan_dft_1d(spec.n, reinterpret_cast<fftwf_complex*>(in),
                               reinterpret_cast<fftwf_complex*>(spec.inPlace ? in : out), spec.sign,
                               flags);
    case PlanSpec::Type::RealForward:
      return fftwf_plan_dft_r2c_1d(spec.n, in, reinterpret_cast<fftwf_complex*>(out),
                                   flags | FFTW_PRESERVE_INPUT);
    case PlanSpec::Type::RealInverse:
      return fftwf_plan_dft_c2r_1d(
          spec.n, reinterpret_cast<fftwf_complex*>(in), out,
          flags | (spec.destroyInput ? FFTW_DESTROY_INPUT : FFTW_PRESERVE_INPUT));
  }
  return nullptr;
}

// The measurement yields to the program's own threads: it is only ever waited for by a
// thread that needs a plan of another size while it runs.
void lowerThisThreadsPriority() {
#ifdef __linux__
  setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 10);
#endif
}

// A measurement runs every candidate algorithm on arrays of its own and frees them again:
// megabytes that the allocator would otherwise keep, dirty, in this thread's arena for the
// rest of the run. Once the queue is empty they go back to the system.
void returnFreedMemory() {
#if defined(__GLIBC__)
  malloc_trim(0);
#endif
}

}  // namespace

FftPlanner& FftPlanner::shared() {
  static FftPlanner* planner = new FftPlanner();
  return *planner;
}

Planning FftPlanner::planning() const {
  // Tests ask for quick estimated plans; timing runs may ask for either of the others.
  if (const char* mode = std::getenv("QUORVEX_FFTW_PLANNING")) {
    if (std::strcmp(mode, "estimate") == 0) return Planning::Estimate;
    if (std::strcmp(mode, "measure") == 0) return Planning::Measure;
    if (std::strcmp(mode, "background") == 0) return Planning::EstimateThenMeasure;
  }
  return chosen_.load();
}

fftwf_plan FftPlanner::makeOrWait(Slot& slot, const PlanSpec& spec) {
  std::lock_guard<std::mutex> lock(plannerMutex_);
  return makeLocked(slot, spec);
}

bool FftPlanner::tryPrepare(Slot& slot, const PlanSpec& spec) {
  if (slot.plan.load(std::memory_order_acquire)) return true;
  if (planning() != Planning::EstimateThenMeasure) return plan(slot, spec) != nullptr;
  std::unique_lock<std::mutex> lock(plannerMutex_, std::try_to_lock);
  if (!lock.owns_lock()) return false;  // the first execution makes it
  return makeLocked(slot, spec) != nullptr;
}

fftwf_plan FftPlanner::makeLocked(Slot& slot, const PlanSpec& spec) {
  fftwf_plan plan = slot.plan.load(std::memory_order_relaxed);
  if (plan) return plan;
  loadWisdomLocked();
  bool measured = false;
  switch (planning()) {
    case Planning::Estimate:
      plan = makePlan(spec, FFTW_ESTIMATE);
      break;
    case Planning::Measure:
      plan = makePlan(spec, FFTW_MEASURE);
      measured = true;
      saveWisdomLocked();
      break;
    case Planning::EstimateThenMeasure:
      // Wisdom from an earlier run gives the measured plan at once.
      plan = makePlan(spec, FFTW_MEASURE | FFTW_WISDOM_ONLY);
      measured = plan != nullptr;
      if (!plan) {
        plan = makePlan(spec, FFTW_ESTIMATE);
        enqueue(slot, spec);
      }
      break;
  }
  QV_ASSERT(plan != nullptr);
  slot.measured.store(measured, std::memory_order_relaxed);
  slot.plan.store(plan, std::memory_order_release);
  return plan;
}

void FftPlanner::loadWisdomLocked() {
  if (wisdomLoaded_) return;
  wisdomLoaded_ = true;
  const std::string path = wisdomPath();
  if (!path.empty()) fftwf_import_wisdom_from_filename(path.c_str());
}

void FftPlanner::saveWisdomLocked() {
  const std::string path = wisdomPath();
  if (path.empty()) return;
  // Written aside and renamed, so that a concurrent start never reads half a file.
  const std::string temp = path + "." + std::to_string(getpid());
  if (fftwf_export_wisdom_to_filename(temp.c_str()) && std::rename(temp.c_str(), path.c_str()) == 0)
    return;
  std::remove(temp.c_str());
  log("FFT wisdom could not be saved to %s", path.c_str());
}

void FftPlanner::enqueue(Slot& slot, const PlanSpec& spec) {
  std::lock_guard<std::mutex> lock(queueMutex_);
  jobs_.push_back({&slot, spec});
  lastRequest_ = std::chrono::steady_clock::now();
  if (!workerStarted_) {
    workerStarted_ = true;
    // Detached: the planner outlives main(), and a measurement under way when the program
    // ends is simply dropped (the wisdom file is only ever replaced whole).
    std::thread([this] {
      nameThisThread("fft-planner");
      workerLoop();
    }).detach();
  }
  queueChanged_.notify_all();
}

void FftPlanner::workerLoop() {
  lowerThisThreadsPriority();
  for (;;) {
    Job job;
    {
      std::unique_lock<std::mutex> lock(queueMutex_);
      queueChanged_.wait(lock, [this] { return !jobs_.empty(); });
      for (auto due = lastRequest_ + kSettle; std::chrono::steady_clock::now() < due;
           due = lastRequest_ + kSettle) {
        queueChanged_.wait_until(lock, due);
      }
      job = jobs_.front();
      jobs_.pop_front();
      measuring_ = true;
    }
    measure(job);
    bool done = false;
    {
      std::lock_guard<std::mutex> lock(queueMutex_);
      measuring_ = false;
      done = jobs_.empty();
    }
    if (done) returnFreedMemory();
    queueChanged_.notify_all();
  }
}

void FftPlanner::measure(const Job& job) {
  std::lock_guard<std::mutex> lock(plannerMutex_);
  fftwf_plan plan = makePlan(job.spec, FFTW_MEASURE);
  if (!plan) {
    log("FFT: no measured plan for %d points; the estimated one stays", job.spec.n);
    return;
  }
  saveWisdomLocked();
  // Executions that loaded the estimated plan finish with it: it is kept, not destroyed.
  retired_.push_back(job.slot->plan.exchange(plan, std::memory_order_acq_rel));
  job.slot->measured.store(true, std::memory_order_release);
}

void FftPlanner::waitUntilMeasured() {
  std::unique_lock<std::mutex> lock(queueMutex_);
  queueChanged_.wait(lock, [this] { return jobs_.empty() && !measuring_; });
}

}  // namespace qv::fft
