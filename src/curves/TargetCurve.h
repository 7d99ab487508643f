#pragma once
// A target curve with its tolerance band: points of frequency, level in dB and how far
// below and above it a measurement may lie; read from a file or from points typed in, in
// the curve files' text form, with columns frequency, level and optionally one tolerance
// (both ways) or two (below, above). Immutable once made; any thread.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "curves/BandAxis.h"
#include "curves/CurveTextTable.h"

namespace qv::curves {

struct TargetPoint {
  double frequency = 0.0;  // Hz
  double level = 0.0;      // dB
  double below = 0.0;      // dB the band reaches below the level (≥ 0)
  double above = 0.0;      // dB the band reaches above the level (≥ 0)
  bool operator==(const TargetPoint&) const = default;
};

// The target on the band axis; NaN outside the points' range.
struct TargetBands {
  std::vector<float> level;
  std::vector<float> lower;
  std::vector<float> upper;
};

// How a measurement lies against the target, over the bands both cover.
struct TargetSummary {
  std::size_t bandsCompared = 0;
  std::size_t bandsOutside = 0;
  float largestAbove = 0.0f;  // dB above the upper edge at worst (0 when never above)
  float largestBelow = 0.0f;  // dB below the lower edge at worst, as a positive figure
};

class TargetCurve {
 public:
  TargetCurve() = default;

  // `defaultTolerance` (dB, both ways) for points without their own; false with the line
  // at fault, also for a negative tolerance.
  static bool parse(std::string_view text, double defaultTolerance, TargetCurve* target,
                    CurveFileError* error);
  static bool load(const std::string& path, double defaultTolerance, TargetCurve* target,
                   CurveFileError* error);

  const std::vector<TargetPoint>& points() const { return points_; }
  // The points in the text form parse() reads (frequency, level, below, above), for keeping.
  std::string toText() const;

  // Level and edges interpolated linearly in log frequency between the points.
  TargetBands onAxis(const BandAxis& axis) const;
  // Per band, how far `magnitude` lies outside the band: positive above the upper edge,
  // negative below the lower one, 0 inside; NaN where either is blank.
  static std::vector<float> distanceOutside(const TargetBands& target,
                                            const std::vector<float>& magnitude);
  static TargetSummary summarize(const std::vector<float>& distance);

 private:
  std::vector<TargetPoint> points_;
};

}  // namespace qv::curves
