#pragma once
// FFT backend over FFTW (single precision): complex and real transforms for every power
// of two from 2^8 to 2^16. A plan is made once per size and kind (FFTW_MEASURE, with the
// wisdom kept in the user's cache folder so that later starts are quick); executing a
// plan allocates nothing and may run on any thread, also concurrently.
#include <cstddef>
#include <memory>

namespace qv::fft {

constexpr int kMinSize = 1 << 8;
constexpr int kMaxSize = 1 << 16;
bool isSupportedSize(int n);

// Interleaved complex transform of n points (re, im pairs). Unscaled both ways.
class ComplexPlan {
 public:
  enum class Direction { Forward, Inverse };
  // The process-wide plan; made on first use (takes a lock and may take a while).
  static const ComplexPlan& get(int n, Direction direction = Direction::Forward);
  // in and out hold 2·n floats; in == out transforms in place. Any float alignment.
  void execute(const float* in, float* out) const;
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
  static const RealPlan& get(int n);
  // `in` is read only; `out` holds n + 2 floats. Any float alignment.
  void forward(const float* in, float* out) const;
  // `in` (n + 2 floats) is read only; `out` holds n floats.
  void inverse(const float* in, float* out) const;
  // The same, free to overwrite `in`: quicker in this direction.
  void inverseDestroyingInput(float* in, float* out) const;
  int size() const { return n_; }

  struct Variants;
  explicit RealPlan(int n);
  ~RealPlan();

 private:
  int n_;
  std::unique_ptr<Variants> variants_;
};

// Float storage aligned for the fastest plans.
struct AlignedFloatDeleter {
  void operator()(float* p) const;
};
using AlignedFloats = std::unique_ptr<float[], AlignedFloatDeleter>;
AlignedFloats allocateFloats(size_t count);  // zero-filled

// Makes the plans of these sizes now (for start-up, or before a benchmark).
void preparePlans(const int* sizes, size_t count);

}  // namespace qv::fft
