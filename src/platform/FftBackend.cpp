#include "platform/FftBackend.h"

#include <fftw3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/Assert.h"
#include "platform/Log.h"

namespace qv::fft {
namespace {

constexpr int kSizeCount = 9;  // 2^8 … 2^16

int sizeSlot(int n) {
  QV_ASSERT(isSupportedSize(n));
  int slot = 0;
  while ((kMinSize << slot) != n) ++slot;
  return slot;
}

// FFTW's planner is not thread-safe: every planner call and wisdom access goes through here.
std::mutex& plannerMutex() {
  static std::mutex m;
  return m;
}

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

unsigned planningFlags() {
  // Tests may ask for quick planning; the program always measures.
  const char* mode = std::getenv("QUORVEX_FFTW_PLANNING");
  if (mode && std::strcmp(mode, "estimate") == 0) return FFTW_ESTIMATE;
  return FFTW_MEASURE;
}

void loadWisdomOnce() {
  static bool loaded = false;
  if (loaded) return;
  loaded = true;
  const std::string path = wisdomPath();
  if (!path.empty()) fftwf_import_wisdom_from_filename(path.c_str());
}

void saveWisdom() {
  const std::string path = wisdomPath();
  if (path.empty()) return;
  // Written aside and renamed, so that a concurrent start never reads half a file.
  const std::string temp = path + "." + std::to_string(getpid());
  if (fftwf_export_wisdom_to_filename(temp.c_str()) && std::rename(temp.c_str(), path.c_str()) == 0)
    return;
  std::remove(temp.c_str());
  log("FFT wisdom could not be saved to %s", path.c_str());
}

bool aligned(const float* p) { return fftwf_alignment_of(const_cast<float*>(p)) == 0; }

// One plan per combination of in-place and alignment, each made on first use.
template <typename MakePlan>
fftwf_plan planFor(std::atomic<fftwf_plan>& slot, MakePlan make) {
  fftwf_plan plan = slot.load(std::memory_order_acquire);
  if (plan) return plan;
  std::lock_guard<std::mutex> lock(plannerMutex());
  plan = slot.load(std::memory_order_relaxed);
  if (plan) return plan;
  loadWisdomOnce();
  const unsigned flags = planningFlags();
  plan = make(flags);
  QV_ASSERT(plan != nullptr);
  if (flags != FFTW_ESTIMATE) saveWisdom();
  slot.store(plan, std::memory_order_release);
  return plan;
}

int variantIndex(bool inPlace, bool isAligned) { return (inPlace ? 2 : 0) + (isAligned ? 1 : 0); }

}  // namespace

bool isSupportedSize(int n) { return n >= kMinSize && n <= kMaxSize && (n & (n - 1)) == 0; }

void AlignedFloatDeleter::operator()(float* p) const { fftwf_free(p); }

AlignedFloats allocateFloats(size_t count) {
  auto* p = static_cast<float*>(fftwf_malloc(sizeof(float) * (count == 0 ? 1 : count)));
  QV_ASSERT(p != nullptr);
  std::memset(p, 0, sizeof(float) * count);
  return AlignedFloats(p);
}

// ---- complex ----

struct ComplexPlan::Variants {
  int sign;
  std::array<std::atomic<fftwf_plan>, 4> plans{};
};

ComplexPlan::ComplexPlan(int n, Direction direction)
    : n_(n), variants_(std::make_unique<Variants>()) {
  variants_->sign = direction == Direction::Forward ? FFTW_FORWARD : FFTW_BACKWARD;
}

ComplexPlan::~ComplexPlan() = default;  // plans live as long as the process

const ComplexPlan& ComplexPlan::get(int n, Direction direction) {
  static std::array<std::array<std::atomic<ComplexPlan*>, kSizeCount>, 2> plans{};
  auto& slot = plans[direction == Direction::Forward ? 0 : 1][sizeSlot(n)];
  ComplexPlan* plan = slot.load(std::memory_order_acquire);
  if (!plan) {
    auto* made = new ComplexPlan(n, direction);
    if (slot.compare_exchange_strong(plan, made)) {
      plan = made;
    } else {
      delete made;
    }
  }
  return *plan;
}

void ComplexPlan::execute(const float* in, float* out) const {
  const bool inPlace = in == out;
  const bool isAligned = aligned(in) && aligned(out);
  const int n = n_;
  const int sign = variants_->sign;
  fftwf_plan plan =
      planFor(variants_->plans[variantIndex(inPlace, isAligned)], [&](unsigned flags) {
        auto a = allocateFloats(2 * static_cast<size_t>(n));
        auto b = allocateFloats(2 * static_cast<size_t>(n));
        float* src = a.get();
        float* dst = inPlace ? a.get() : b.get();
        if (!isAligned) flags |= FFTW_UNALIGNED;
        return fftwf_plan_dft_1d(n, reinterpret_cast<fftwf_complex*>(src),
                                 reinterpret_cast<fftwf_complex*>(dst), sign, flags);
      });
  fftwf_execute_dft(plan, reinterpret_cast<fftwf_complex*>(const_cast<float*>(in)),
                    reinterpret_cast<fftwf_complex*>(out));
}

// ---- real ----

struct RealPlan::Variants {
  std::array<std::atomic<fftwf_plan>, 2> forward{};
  std::array<std::atomic<fftwf_plan>, 2> inverse{};
  std::array<std::atomic<fftwf_plan>, 2> inverseDestroying{};
};

RealPlan::RealPlan(int n) : n_(n), variants_(std::make_unique<Variants>()) {}
RealPlan::~RealPlan() = default;

const RealPlan& RealPlan::get(int n) {
  static std::array<std::atomic<RealPlan*>, kSizeCount> plans{};
  auto& slot = plans[sizeSlot(n)];
  RealPlan* plan = slot.load(std::memory_order_acquire);
  if (!plan) {
    auto* made = new RealPlan(n);
    if (slot.compare_exchange_strong(plan, made)) {
      plan = made;
    } else {
      delete made;
    }
  }
  return *plan;
}

void RealPlan::forward(const float* in, float* out) const {
  QV_ASSERT(in != out);
  const bool isAligned = aligned(in) && aligned(out);
  const int n = n_;
  fftwf_plan plan = planFor(variants_->forward[isAligned ? 1 : 0], [&](unsigned flags) {
    auto a = allocateFloats(static_cast<size_t>(n));
    auto b = allocateFloats(static_cast<size_t>(n) + 2);
    flags |= FFTW_PRESERVE_INPUT | (isAligned ? 0u : static_cast<unsigned>(FFTW_UNALIGNED));
    return fftwf_plan_dft_r2c_1d(n, a.get(), reinterpret_cast<fftwf_complex*>(b.get()), flags);
  });
  fftwf_execute_dft_r2c(plan, const_cast<float*>(in), reinterpret_cast<fftwf_complex*>(out));
}

void RealPlan::inverse(const float* in, float* out) const {
  QV_ASSERT(in != out);
  const bool isAligned = aligned(in) && aligned(out);
  const int n = n_;
  fftwf_plan plan = planFor(variants_->inverse[isAligned ? 1 : 0], [&](unsigned flags) {
    auto a = allocateFloats(static_cast<size_t>(n) + 2);
    auto b = allocateFloats(static_cast<size_t>(n));
    flags |= FFTW_PRESERVE_INPUT | (isAligned ? 0u : static_cast<unsigned>(FFTW_UNALIGNED));
    return fftwf_plan_dft_c2r_1d(n, reinterpret_cast<fftwf_complex*>(a.get()), b.get(), flags);
  });
  fftwf_execute_dft_c2r(plan, reinterpret_cast<fftwf_complex*>(const_cast<float*>(in)), out);
}

void RealPlan::inverseDestroyingInput(float* in, float* out) const {
  QV_ASSERT(in != out);
  const bool isAligned = aligned(in) && aligned(out);
  const int n = n_;
  fftwf_plan plan = planFor(variants_->inverseDestroying[isAligned ? 1 : 0], [&](unsigned flags) {
    auto a = allocateFloats(static_cast<size_t>(n) + 2);
    auto b = allocateFloats(static_cast<size_t>(n));
    flags |= FFTW_DESTROY_INPUT | (isAligned ? 0u : static_cast<unsigned>(FFTW_UNALIGNED));
    return fftwf_plan_dft_c2r_1d(n, reinterpret_cast<fftwf_complex*>(a.get()), b.get(), flags);
  });
  fftwf_execute_dft_c2r(plan, reinterpret_cast<fftwf_complex*>(in), out);
}

void preparePlans(const int* sizes, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    auto in = allocateFloats(2 * static_cast<size_t>(sizes[i]) + 2);
    auto out = allocateFloats(2 * static_cast<size_t>(sizes[i]) + 2);
    ComplexPlan::get(sizes[i]).execute(in.get(), out.get());
    RealPlan::get(sizes[i]).forward(in.get(), out.get());
  }
}

}  // namespace qv::fft
