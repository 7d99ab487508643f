#pragma once
// One curve relative to another, and a trace's display offsets. Stateless; any thread.
// difference() allocates only when the output's size changes, so a view can run it on
// every tick against a reference prepared once (offsets applied).
#include "curves/BandCurves.h"

namespace qv::curves {

class CurveCompare {
 public:
  // a relative to b, band by band: magnitude a − b in dB, phase a − b in degrees wrapped to
  // (−180, 180], coherence of a. Blank where either is blank; `out` has a's length, and
  // bands past the end of b are blank. Identical curves read 0 dB and 0°.
  static void difference(const BandCurves& a, const BandCurves& b, BandCurves& out);

  // Offsets as drawn: every magnitude raised by `offsetDb`; the curve delayed by `delayMs`,
  // that is its phase turned by −360° · f · delay at each band's own frequency, computed in
  // double precision so that long delays at high frequencies stay exact. Coherence and
  // blank bands stay as they are.
  static void applyOffsets(BandCurves& curves, double offsetDb, double delayMs);
};

}  // namespace qv::curves
