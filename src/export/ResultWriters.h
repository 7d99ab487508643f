#pragma once
// Text forms of an analysis result: the per-band CSV and the JSON summary.
#include <optional>
#include <string>

#include "export/AnalysisResult.h"

namespace qv {

// Header "frequency_hz,magnitude_db,phase_deg,coherence", one row per band, coherence
// from 0 to 1, and ",group_delay_ms" when the result has a group delay; blanked (and
// otherwise non-finite) values are empty fields.
std::string formatCsv(const AnalysisResult& result);
// Header "frequency_hz,measurement_dbfs,reference_dbfs", one row per band of the
// result's spectrum (empty text without one); silent bands are empty fields.
std::string formatSpectrumCsv(const AnalysisResult& result);
std::string formatJson(const AnalysisResult& result);

// A JSON string literal of `text` (quotes, backslashes and control characters escaped).
std::string jsonQuoted(const std::string& text);
// "%.Ng"-style number, or null for a missing or non-finite value.
std::string jsonNumber(std::optional<float> value);

}  // namespace qv
