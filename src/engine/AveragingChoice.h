#pragma once
// The averaging indices a user chooses from, named by what they do. Index k (1 … 1000) is
// an exponential average in which each display tick's frame counts k/1000: its time
// constant is −Δt / ln(1 − k/1000) for ticks Δt apart, so the same index averages over
// twice as long where the display ticks half as often. 1000 averages nothing.
// Pure functions; any thread.
#include <string>

namespace qv {

class AveragingChoice {
 public:
  static constexpr int kIndices[] = {1000, 500, 200, 100, 50, 20, 10, 5, 2, 1};
  static constexpr int kNone = 1000;

  // Seconds; 0 for no averaging, or for an index or interval out of range.
  static double timeConstant(int index, double tickInterval);
  // "None", "Fast (≈ 0.3 s)", "Slow (≈ 3 s)", …; an index that is not offered reads
  // "Index 137 (≈ 0.2 s)".
  static std::string label(int index, double tickInterval);
  // One sentence for a tooltip: what the choice does, with its figures.
  static std::string description(int index, double tickInterval);
  // The time constant as the labels round it ("0.3", "3", "17").
  static std::string roundedSeconds(double seconds);
};

}  // namespace qv
