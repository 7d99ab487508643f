#pragma once
// The fractional-octave smoothing widths a user can choose (1/S octave) and their texts.
// Thread contract: immutable; any thread.
#include <array>
#include <cstdint>
#include <string>

namespace qv {

class SmoothingModel {
 public:
  static constexpr std::array<int64_t, 8> kSmoothingValues{1, 2, 3, 6, 12, 24, 48, 96};

  const std::array<int64_t, 8>& smoothingValues() const { return kSmoothingValues; }
  int64_t minSmoothFactor() const { return _minSmoothFactor; }
  int64_t maxSmoothFactor() const { return _maxSmoothFactor; }

  // Whether S is one of the offered values (callers ignore any other).
  static bool isOffered(int64_t smoothing);
  // "1 oct" for 1, otherwise "1/S".
  static std::string smoothingStringFromSmoothing(int64_t smoothing);
  static std::string averagingStringFromAveraging(int64_t averaging);

 private:
  int64_t _minSmoothFactor = 1;
  int64_t _maxSmoothFactor = 96;
};

}  // namespace qv
