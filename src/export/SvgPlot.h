#pragma once
// A picture of a result drawn the way the live display draws it: magnitude on a
// log-frequency grid with the octave labels, phase with the coherence on the same grid,
// and the impulse response.
#include <string>

#include "export/AnalysisResult.h"

namespace qv {

std::string renderSvg(const AnalysisResult& result);

}  // namespace qv
