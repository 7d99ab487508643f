#pragma once
// FFTW's planner as the FFT backend uses it: one lock around every planner call (FFTW's
// planner is not thread-safe), the wisdom file in the user's cache folder, and a worker
// thread that measures plans and swaps them in for the estimated ones a program starts
// with, so that no thread that asked for a plan waits seconds for FFTW's measurements.
// Thread contract: any thread. A slot's plan is read without a lock and replaced at most
// once, from estimated to measured; the replaced plan is kept, as an execution on another
// thread may still be using it.
#include <fftw3.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

#include "platform/FftBackend.h"

namespace qv::fft {

// Which FFTW plan a slot holds: the transform and the arrays it is made for.
struct PlanSpec {
  enum class Type { Complex, RealForward, RealInverse };
  Type type = Type::Complex;
  int n = 0;
  int sign = FFTW_FORWARD;  // complex only
  bool inPlace = false;     // complex only
  bool aligned = true;
  bool destroyInput = false;  // real inverse only
};

class FftPlanner {
 public:
  struct Slot {
    std::atomic<fftwf_plan> plan{nullptr};
    std::atomic<bool> measured{false};
  };

  // The process's planner; never destroyed (its worker may run until the process ends).
  static FftPlanner& shared();

  void setPlanning(Planning planning) { chosen_.store(planning); }
  // The chosen planning, unless the environment asks for another.
  Planning planning() const;

  // The slot's plan; made now when there is none yet, waiting for the planner if another
  // thread holds it. Lock-free once the slot has a plan.
  fftwf_plan plan(Slot& slot, const PlanSpec& spec) {
    fftwf_plan p = slot.plan.load(std::memory_order_acquire);
    return p ? p : makeOrWait(slot, spec);
  }
  // Makes the slot's plan unless another thread holds the planner (in EstimateThenMeasure
  // planning; the others wait, as plan() does). True when the slot has a plan.
  bool tryPrepare(Slot& slot, const PlanSpec& spec);
  void waitUntilMeasured();

  // Holds the planner as a measurement on another thread does (for tests).
  std::unique_lock<std::mutex> holdPlanner() { return std::unique_lock<std::mutex>(plannerMutex_); }

 private:
  struct Job {
    Slot* slot;
    PlanSpec spec;
  };

  FftPlanner() = default;
  fftwf_plan makeOrWait(Slot& slot, const PlanSpec& spec);
  fftwf_plan makeLocked(Slot& slot, const PlanSpec& spec);  // planner held
  void loadWisdomLocked();
  void saveWisdomLocked();
  void enqueue(Slot& slot, const PlanSpec& spec);
  void workerLoop();
  void measure(const Job& job);

  std::atomic<Planning> chosen_{Planning::Measure};
  std::mutex plannerMutex_;
  bool wisdomLoaded_ = false;  // planner held
  // Estimated plans replaced by measured ones: an execution may still be running one, so
  // they are kept (one per slot at most) rather than destroyed.
  std::vector<fftwf_plan> retired_;  // planner held

  std::mutex queueMutex_;
  std::condition_variable queueChanged_;
  std::deque<Job> jobs_;
  bool workerStarted_ = false;
  bool measuring_ = false;
  std::chrono::steady_clock::time_point lastRequest_;
};

}  // namespace qv::fft
