#include "curves/TargetCurve.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "curves/CurveFile.h"

namespace qv::curves {
namespace {

void appendNumber(std::string& out, double value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, result.ptr);
}

}  // namespace

bool TargetCurve::parse(std::string_view text, double defaultTolerance, TargetCurve* target,
                        CurveFileError* error) {
  CurveTextTable table;
  if (!CurveTextTable::parse(text, 2, &table, error, true, 4)) return false;
  const std::size_t width = table.columns.size();
  TargetCurve made;
  for (std::size_t row = 0; row < table.rows(); ++row) {
    TargetPoint point;
    point.frequency = table.columns[0][row];
    point.level = table.columns[1][row];
    // A tolerance left empty is the default one.
    const auto given = [&](std::size_t c, double otherwise) {
      return c < width && !std::isnan(table.columns[c][row]) ? table.columns[c][row] : otherwise;
    };
    point.below = given(2, defaultTolerance);
    point.above = given(3, point.below);
    if (!std::isfinite(point.level)) {
      *error = {table.lines[row], "the target has no level in dB."};
      return false;
    }
    if (!(point.below >= 0.0 && point.above >= 0.0) || !std::isfinite(point.below) ||
        !std::isfinite(point.above)) {
      *error = {table.lines[row], "a tolerance must be a figure of 0 dB or more."};
      return false;
    }
    made.points_.push_back(point);
  }
  *target = std::move(made);
  return true;
}

bool TargetCurve::load(const std::string& path, double defaultTolerance, TargetCurve* target,
                       CurveFileError* error) {
  std::string text;
  return CurveFile::readText(path, &text, error) && parse(text, defaultTolerance, target, error);
}

std::string TargetCurve::toText() const {
  std::string out = "# frequency_hz level_db below_db above_db\n";
  for (const TargetPoint& p : points_) {
    const double values[] = {p.frequency, p.level, p.below, p.above};
    for (int i = 0; i < 4; ++i) {
      appendNumber(out, values[i]);
      out += i == 3 ? '\n' : ' ';
    }
  }
  return out;
}

TargetBands TargetCurve::onAxis(const BandAxis& axis) const {
  const std::size_t bands = axis.bandCount();
  const float blank = std::nanf("");
  TargetBands out{std::vector<float>(bands, blank), std::vector<float>(bands, blank),
                  std::vector<float>(bands, blank)};
  const std::size_t n = points_.size();
  if (n < 2) return out;
  std::size_t i = 0;
  for (std::size_t b = 0; b < bands; ++b) {
    const double f = axis.frequency(b);
    if (f < points_.front().frequency || f > points_.back().frequency) continue;
    while (i + 2 < n && points_[i + 1].frequency <= f) ++i;
    const TargetPoint& p0 = points_[i];
    const TargetPoint& p1 = points_[i + 1];
    const double t = std::log10(f / p0.frequency) / std::log10(p1.frequency / p0.frequency);
    const auto lerp = [t](double a, double c) { return a + t * (c - a); };
    const double level = lerp(p0.level, p1.level);
    out.level[b] = static_cast<float>(level);
    out.lower[b] = static_cast<float>(level - lerp(p0.below, p1.below));
    out.upper[b] = static_cast<float>(level + lerp(p0.above, p1.above));
  }
  return out;
}

std::vector<float> TargetCurve::distanceOutside(const TargetBands& target,
                                                const std::vector<float>& magnitude) {
  const std::size_t n = std::min(target.level.size(), magnitude.size());
  std::vector<float> distance(n, std::nanf(""));
  for (std::size_t b = 0; b < n; ++b) {
    const float m = magnitude[b];
    if (std::isnan(m) || std::isnan(target.level[b])) continue;
    distance[b] = m > target.upper[b]   ? m - target.upper[b]
                  : m < target.lower[b] ? m - target.lower[b]
                                        : 0.0f;
  }
  return distance;
}

TargetSummary TargetCurve::summarize(const std::vector<float>& distance) {
  TargetSummary summary;
  for (float d : distance) {
    if (std::isnan(d)) continue;
    ++summary.bandsCompared;
    if (d == 0.0f) continue;
    ++summary.bandsOutside;
    if (d > 0.0f) summary.largestAbove = std::max(summary.largestAbove, d);
    if (d < 0.0f) summary.largestBelow = std::max(summary.largestBelow, -d);
  }
  return summary;
}

}  // namespace qv::curves
