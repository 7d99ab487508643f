#pragma once
// Curves from other programs' text files (CSV, TXT, FRD) on the band axis: frequency and
// magnitude columns, optional phase and coherence columns. Columns named in a header line
// are found by name ("freq"/"hz", "mag"/"db"/"spl"/"level"/"gain", "phase"/"deg"/"rad",
// "coh"); otherwise they are taken in that order. Phase in radians is converted when its
// column says "rad"; coherence given in percent (values above 1, up to 100) is scaled.
// Stateless; any thread.
#include <string>
#include <string_view>

#include "curves/BandAxis.h"
#include "curves/BandCurves.h"
#include "curves/CurveResampler.h"
#include "curves/CurveTextTable.h"

namespace qv::curves {

class CurveImport {
 public:
  // The points of a curve file's text; false with the line at fault and nothing else.
  static bool points(std::string_view text, CurvePoints* points, CurveFileError* error);
  // The text's curve on `axis` (see CurveResampler).
  static bool fromText(std::string_view text, const BandAxis& axis, BandCurves* curves,
                       CurveFileError* error);
  static bool fromFile(const std::string& path, const BandAxis& axis, BandCurves* curves,
                       CurveFileError* error);
};

}  // namespace qv::curves
