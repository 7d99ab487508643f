#pragma once
// A band's frequency (x, Hz) and one of its curve values (y), as the cursor read-outs of
// the transfer-function model and of the octave band analyser return them.

namespace qv {

struct BandPoint {
  double x = 0.0;
  double y = 0.0;
};

}  // namespace qv
