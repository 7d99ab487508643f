#include "platform/FftBackend.h"

#include <fftw3.h>

#include <array>
#include <atomic>
#include <cstring>

#include "platform/Assert.h"
#include "platform/FftPlanner.h"

namespace qv::fft {
namespace {

constexpr int kSizeCount = 9;  // 2^8 … 2^16

int sizeSlot(int n) {
  QV_ASSERT(isSupportedSize(n));
  int slot = 0;
  while ((kMinSize << slot) != n) ++slot;
  return slot;
}

bool aligned(const float* p) { return fftwf_alignment_of(const_cast<float*>(p)) == 0; }

int variantIndex(bool inPlace, bool isAligned) { return (inPlace ? 2 : 0) + (isAligned ? 1 : 0); }

FftPlanner& planner() { return FftPlanner::shared(); }

}  // namespace

void setPlanning(Planning planning) { planner().setPlanning(planning); }
Planning planning() { return planner().planning(); }
void waitForMeasuredPlans() { planner().waitUntilMeasured(); }

bool isSupportedSize(int n) { return n >= kMinSize && n <= kMaxSize && (n & (n - 1)) == 0; }

void AlignedFloatDeleter::operator()(float* p) const { fftwf_free(p); }

bool isAligned(const float* p) { return aligned(p); }

AlignedFloats allocateFloats(size_t count) {
  auto* p = static_cast<float*>(fftwf_malloc(sizeof(float) * (count == 0 ? 1 : count)));
  QV_ASSERT(p != nullptr);
  std::memset(p, 0, sizeof(float) * count);
  return AlignedFloats(p);
}

// ---- complex ----

struct ComplexPlan::Variants {
  int sign;
  std::array<FftPlanner::Slot, 4> slots;
  PlanSpec spec(bool inPlace, bool isAligned, int n) const {
    PlanSpec s;
    s.type = PlanSpec::Type::Complex;
    s.n = n;
    s.sign = sign;
    s.inPlace = inPlace;
    s.aligned = isAligned;
    return s;
  }
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
  fftwf_plan plan = planner().plan(variants_->slots[variantIndex(inPlace, isAligned)],
                                   variants_->spec(inPlace, isAligned, n_));
  fftwf_execute_dft(plan, reinterpret_cast<fftwf_complex*>(const_cast<float*>(in)),
                    reinterpret_cast<fftwf_complex*>(out));
}

bool ComplexPlan::prepare(bool inPlace) const {
  return planner().tryPrepare(variants_->slots[variantIndex(inPlace, true)],
                              variants_->spec(inPlace, true, n_));
}

bool ComplexPlan::measured(bool inPlace, bool isAligned) const {
  return variants_->slots[variantIndex(inPlace, isAligned)].measured.load(
      std::memory_order_acquire);
}

// ---- real ----

struct RealPlan::Variants {
  // By transform, then unaligned and aligned.
  std::array<std::array<FftPlanner::Slot, 2>, 3> slots;
  FftPlanner::Slot& slot(Transform t, bool isAligned) {
    return slots[static_cast<size_t>(t)][isAligned ? 1 : 0];
  }
  static PlanSpec spec(Transform t, bool isAligned, int n) {
    PlanSpec s;
    s.type = t == Transform::Forward ? PlanSpec::Type::RealForward : PlanSpec::Type::RealInverse;
    s.n = n;
    s.aligned = isAligned;
    s.destroyInput = t == Transform::InverseDestroyingInput;
    return s;
  }
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

fftwf_plan_s* RealPlan::planFor(Transform t, const float* in, const float* out) const {
  const bool isAligned = aligned(in) && aligned(out);
  return planner().plan(variants_->slot(t, isAligned), Variants::spec(t, isAligned, n_));
}

void RealPlan::forward(const float* in, float* out) const {
  QV_ASSERT(in != out);
  fftwf_execute_dft_r2c(planFor(Transform::Forward, in, out), const_cast<float*>(in),
                        reinterpret_cast<fftwf_complex*>(out));
}

void RealPlan::inverse(const float* in, float* out) const {
  QV_ASSERT(in != out);
  fftwf_execute_dft_c2r(planFor(Transform::Inverse, in, out),
                        reinterpret_cast<fftwf_complex*>(const_cast<float*>(in)), out);
}

void RealPlan::inverseDestroyingInput(float* in, float* out) const {
  QV_ASSERT(in != out);
  fftwf_execute_dft_c2r(planFor(Transform::InverseDestroyingInput, in, out),
                        reinterpret_cast<fftwf_complex*>(in), out);
}

bool RealPlan::prepare(Transform t) const {
  return planner().tryPrepare(variants_->slot(t, true), Variants::spec(t, true, n_));
}

bool RealPlan::measured(Transform t, bool isAligned) const {
  return variants_->slot(t, isAligned).measured.load(std::memory_order_acquire);
}

void preparePlans(const int* sizes, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    ComplexPlan::get(sizes[i]).prepare();
    RealPlan::get(sizes[i]).prepare(RealPlan::Transform::Forward);
  }
}

}  // namespace qv::fft
