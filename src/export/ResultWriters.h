#pragma once
// Text forms of an analysis result: the per-band CSV, the JSON summary and the delay
// finder's timeline.
#include <optional>
#include <string>
#include <vector>

#include "export/AnalysisResult.h"

namespace qv {

// Header "frequency_hz,magnitude_db,phase_deg,coherence", one row per band, coherence
// from 0 to 1; blanked (and otherwise non-finite) values are empty fields.
std::string formatCsv(const AnalysisResult& result);
std::string formatCurvesCsv(const std::vector<float>& frequency,
                            const std::vector<float>& magnitude, const std::vector<float>& phase,
                            const std::vector<float>& coherence);
std::string formatJson(const AnalysisResult& result);
// Header "time_s,state,found_ms,found_samples,inserted_ms,changed,peak_to_next,
// peak_to_noise,inverted,coherence,drift_ppm", one row per delay finder result.
std::string formatTimelineCsv(const AnalysisResult& result);

// A JSON string literal of `text` (quotes, backslashes and control characters escaped).
std::string jsonQuoted(const std::string& text);
// "%.Ng"-style number, or null for a missing or non-finite value: six digits for a float,
// ten for a double.
std::string jsonNumber(std::optional<float> value);
std::string jsonDouble(std::optional<double> value);

}  // namespace qv
