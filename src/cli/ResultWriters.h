#pragma once
// Text forms of an analysis result: the per-band CSV and the JSON summary.
#include <string>

#include "cli/AnalysisResult.h"

namespace qv::cli {

// Header "frequency_hz,magnitude_db,phase_deg,coherence", one row per band, coherence
// from 0 to 1; blanked (and otherwise non-finite) values are empty fields.
std::string formatCsv(const AnalysisResult& result);
std::string formatJson(const AnalysisResult& result);

}  // namespace qv::cli
