#pragma once
// FFT backend over FFTW (single precision): complex and real transforms for every power
// of two from 2^8 to 2^16. A plan is made once per size, kind and array alignment; how
// (estimated at once, or measured for speed with the wisdom kept in the user's cache folder
// so that later starts are quick) is the process's planning choice below. Executing a plan
// allocates nothing, takes no lock once the plan exists, and may run on any thread, also
// concurrently.
#include <cstddef>
#include <memory>

struct fftwf_plan_s;

namespace qv::fft {

constexpr int kMinSize = 1 << 8;
constexpr int kMaxSize = 1 << 16;
bool isSupportedSize(int n);

// How plans are made. An estimated plan is ready in a moment; a measured one executes up
// to twice as fast, but FFTW takes seconds to find it on a busy machine with no wisdom.
enum class Planning {
  Estimate,             // estimated plans only
  Measure,              // measured on first use, by the thread that uses the plan first
  EstimateThenMeasure,  // estimated at once; a worker thread measures them and swaps them in
};
// Process-wide, before the first plan; QUORVEX_FFTW_PLANNING (estimate, measure or
// background) in the environment overrides it.
void setPlanning(Planning planning);
Planning planning();
// Waits until the worker has measured every plan asked for so far (tests, benchmarks).
void waitForMeasuredPlans();

// Interleaved complex transform of n points (re, im pairs). Unscaled both ways.
class ComplexPlan {
 public:
  enum class Direction { Forward, Inverse };
  // The process-wide plan object; its FFTW plans are made on first use.
  static const ComplexPlan& get(int n, Direction direction = Direction::Forward);
  // in and out hold 2·n floats; in == out transforms in place. Any float alignment.
  void execute(const float* in, float* out) const;
  // Makes the plan for aligned arrays (allocateFloats) now, so that the first execution
  // does not. With EstimateThenMeasure planning it never waits: while another thread holds
  // FFTW's planner it leaves the plan to the first execution and returns false. Otherwise
  // true.
  bool prepare(bool inPlace = false) const;
  // Whether executions on such arrays use a measured plan by now.
  bool measured(bool inPlace = false, bool aligned = true) const;
  int size() const { return n_; }

  struct Variants;
  ComplexPlan(int n, Direction direction);
  ~ComplexPlan();

 private:
  int n_;
  std::unique_ptr<Variants> variants_;
};

// Real transform of n points: forward gives bins 0 … n/2 as n/2 + 1 interleaved complex
// values; inverse takes them back to n reals (unscaled, so it returns n times the input).
class RealPlan {
 public:
  enum class Transform { Forward, Inverse, InverseDestroyingInput };
  static const RealPlan& get(int n);
  // `in` is read only; `out` holds n + 2 floats. Any float alignment.
  void forward(const float* in, float* out) const;
  // `in` (n + 2 floats) is read only; `out` holds n floats.
  void inverse(const float* in, float* out) const;
  // The same, free to overwrite `in`: quicker in this direction.
  void inverseDestroyingInput(float* in, float* out) const;
  // As ComplexPlan::prepare, for one transform on aligned arrays.
  bool prepare(Transform transform) const;
  bool measured(Transform transform, bool aligned = true) const;
  int size() const { return n_; }

  struct Variants;
  explicit RealPlan(int n);
  ~RealPlan();

 private:
  fftwf_plan_s* planFor(Transform transform, const float* in, const float* out) const;

  int n_;
  std::unique_ptr<Variants> variants_;
};

// Float storage aligned for the fastest plans.
struct AlignedFloatDeleter {
  void operator()(float* p) const;
};
using AlignedFloats = std::unique_ptr<float[], AlignedFloatDeleter>;
AlignedFloats allocateFloats(size_t count);  // zero-filled
// Whether transforms of an array that starts here run the plans for aligned arrays (those
// for other starts are several times slower).
bool isAligned(const float* p);

// Prepares the complex and real forward plans of these sizes (for start-up, or before a
// benchmark).
void preparePlans(const int* sizes, size_t count);

}  // namespace qv::fft
