#include "curves/CurveImport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

#include "curves/CurveFile.h"

namespace qv::curves {

bool CurveImport::points(std::string_view text, CurvePoints* points, CurveFileError* error) {
  *points = {};
  CurveTextTable table;
  if (!CurveTextTable::parse(text, 2, &table, error)) return false;
  int frequency = table.find({"freq", "hz"}, 0);
  int magnitude = table.find({"mag", "db", "spl", "level", "gain", "amp"}, 1);
  int phase = table.find({"phase", "deg", "rad"}, 2);
  int coherence = table.find({"coh"}, 3);
  if (frequency != 0 || magnitude < 0) {
    // Names that do not say which column is which: the columns' order does.
    table.names.clear();
    frequency = 0;
    magnitude = 1;
    phase = table.find({}, 2);
    coherence = table.find({}, 3);
  }
  const auto column = [&](int c) { return c < 0 ? std::vector<double>{} : table.columns[c]; };
  points->frequency = column(frequency);
  points->magnitude = column(magnitude);
  points->phase = column(phase);
  points->coherence = column(coherence);

  if (phase >= 0 && !table.names.empty() && table.names[phase].find("rad") != std::string::npos) {
    for (double& value : points->phase) value *= 180.0 / std::numbers::pi;
  }
  if (coherence >= 0) {
    double largest = 0.0;
    for (double value : points->coherence) {
      if (!std::isnan(value)) largest = std::max(largest, value);
    }
    const double scale = largest > 1.0 ? 0.01 : 1.0;
    for (std::size_t row = 0; row < points->coherence.size(); ++row) {
      double& value = points->coherence[row];
      if (std::isnan(value)) continue;
      value *= scale;
      if (value < 0.0 || value > 1.0) {
        char given[32];
        std::snprintf(given, sizeof given, "%g", value / scale);
        *error = {table.lines[row],
                  std::string("the coherence ") + given + " is outside 0 to 1 (or 0 to 100 %)."};
        *points = {};
        return false;
      }
    }
  }
  return true;
}

bool CurveImport::fromText(std::string_view text, const BandAxis& axis, BandCurves* curves,
                           CurveFileError* error) {
  CurvePoints p;
  if (!points(text, &p, error)) return false;
  *curves = CurveResampler::toAxis(p, axis);
  return true;
}

bool CurveImport::fromFile(const std::string& path, const BandAxis& axis, BandCurves* curves,
                           CurveFileError* error) {
  std::string text;
  return CurveFile::readText(path, &text, error) && fromText(text, axis, curves, error);
}

}  // namespace qv::curves
