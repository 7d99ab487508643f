#include "export/ResultWriters.h"

#include <cmath>
#include <cstdio>

namespace qv {
namespace {

void appendValue(std::string& out, float value, const char* format) {
  if (!std::isfinite(value)) return;
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, format, static_cast<double>(value));
  out += buffer;
}

// One line per field, and the per-band figures on one line in the order of the CSV's rows.
std::string formatTarget(const TargetComparison& t) {
  const curves::TargetSummary& s = t.summary;
  std::string out = "{\n    \"file\": " + jsonQuoted(t.name) + ",\n";
  out += "    \"bands_compared\": " + std::to_string(s.bandsCompared) + ",\n";
  out += "    \"bands_outside\": " + std::to_string(s.bandsOutside) + ",\n";
  out += "    \"largest_above_db\": " + jsonNumber(s.largestAbove) + ",\n";
  out += "    \"largest_below_db\": " + jsonNumber(s.largestBelow) + ",\n";
  out += "    \"outside_db\": [";
  out.reserve(out.size() + t.outside.size() * 8);
  for (size_t b = 0; b < t.outside.size(); ++b) {
    if (b) out += ", ";
    if (std::isfinite(t.outside[b])) {
      char buffer[32];
      std::snprintf(buffer, sizeof buffer, "%.2f", static_cast<double>(t.outside[b]));
      out += buffer;
    } else {
      out += "null";
    }
  }
  return out + "]\n  }";
}

}  // namespace

std::string jsonQuoted(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
      out += buffer;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string jsonNumber(std::optional<float> value) {
  if (!value || !std::isfinite(*value)) return "null";
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%.6g", static_cast<double>(*value));
  return buffer;
}

std::string jsonDouble(std::optional<double> value) {
  if (!value || !std::isfinite(*value)) return "null";
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%.10g", *value);
  return buffer;
}

std::string formatCurvesCsv(const std::vector<float>& frequency,
                            const std::vector<float>& magnitude, const std::vector<float>& phase,
                            const std::vector<float>& coherence,
                            const std::vector<float>* groupDelay) {
  std::string out = "frequency_hz,magnitude_db,phase_deg,coherence";
  out += groupDelay ? ",group_delay_ms\n" : "\n";
  out.reserve(out.size() + frequency.size() * (groupDelay ? 52 : 40));
  for (size_t b = 0; b < frequency.size(); ++b) {
    appendValue(out, frequency[b], "%.4f");
    out += ',';
    appendValue(out, magnitude[b], "%.4f");
    out += ',';
    appendValue(out, phase[b], "%.3f");
    out += ',';
    appendValue(out, coherence[b], "%.5f");
    if (groupDelay) {
      out += ',';
      if (b < groupDelay->size()) appendValue(out, (*groupDelay)[b], "%.4f");
    }
    out += '\n';
  }
  return out;
}

std::string formatCsv(const AnalysisResult& r) {
  return formatCurvesCsv(r.frequency, r.magnitude, r.phase, r.coherence,
                         r.groupDelay.empty() ? nullptr : &r.groupDelay);
}

std::string formatSpectrumCsv(const AnalysisResult& r) {
  if (!r.spectrum) return {};
  const AnalysisResult::Spectrum& s = *r.spectrum;
  std::string out = "frequency_hz,measurement_dbfs,reference_dbfs\n";
  for (size_t b = 0; b < s.frequency.size(); ++b) {
    appendValue(out, s.frequency[b], "%.3f");
    out += ',';
    appendValue(out, s.measurement[b], "%.3f");
    out += ',';
    appendValue(out, s.reference[b], "%.3f");
    out += '\n';
  }
  return out;
}

std::string formatTimelineCsv(const AnalysisResult& r) {
  std::string out =
      "time_s,state,found_ms,found_samples,inserted_ms,changed,peak_to_next,peak_to_noise,"
      "inverted,coherence,drift_ppm\n";
  char row[320];
  for (const DelayTimelineRow& t : r.timeline) {
    std::snprintf(row, sizeof row, "%.3f,%s,%.6f,%.4f,%.6f,%d,%.3f,%.3f,%d,%.4f,%.4f\n",
                  t.timeSeconds, t.state.c_str(), t.foundMs, t.foundSamples, t.insertedMs,
                  t.changed ? 1 : 0, t.peakToNext, t.peakToNoise, t.inverted ? 1 : 0, t.coherence,
                  t.driftPpm);
    out += row;
  }
  return out;
}

std::string formatJson(const AnalysisResult& r) {
  std::string out = "{\n";
  auto field = [&](const char* name, const std::string& value, bool last = false) {
    out += "  ";
    out += jsonQuoted(name);
    out += ": ";
    out += value;
    out += last ? "\n" : ",\n";
  };
  const auto flag = [](std::optional<bool> v) {
    return v ? std::string(*v ? "true" : "false") : std::string("null");
  };
  field("source", jsonQuoted(r.source));
  field("sample_rate_hz", std::to_string(r.sampleRate));
  field("bands", std::to_string(r.frequency.size()));
  field("fft_size", std::to_string(r.fftSize));
  field("smoothing", std::to_string(r.smoothing));
  field("averaging", std::to_string(r.averaging));
  field("averaging_label", jsonQuoted(r.averagingLabel));
  field("averaging_time_constant_s", jsonNumber(static_cast<float>(r.averagingTimeConstant)));
  field("coherence_threshold", jsonNumber(r.coherenceThreshold));
  field("delay_mode", jsonQuoted(r.delayMode));
  field("finder_band_hz", r.finderBand ? "[" + jsonDouble(r.finderBand->first) + ", " +
                                             jsonDouble(r.finderBand->second) + "]"
                                       : std::string("null"));
  field("delay_set_ms", jsonDouble(r.delaySetMs));
  field("delay_applied_ms", jsonDouble(r.delayAppliedMs));
  field("delay_applied_samples", jsonDouble(r.delayAppliedSamples));
  field("delay_state", jsonQuoted(r.delayState));
  field("delay_found_ms", jsonDouble(r.delayFoundMs));
  field("delay_found_samples", jsonDouble(r.delayFoundSamples));
  field("delay_peak_to_next", jsonDouble(r.peakToNext));
  field("delay_peak_to_noise", jsonDouble(r.peakToNoise));
  field("delay_inverted", flag(r.inverted));
  field("delay_changes", std::to_string(r.delayChanges));
  field("drift_ppm", jsonDouble(r.driftPpm));
  field("mean_coherence", jsonNumber(r.meanCoherence));
  field("frames_analysed", std::to_string(r.framesAnalysed));
  field("dropped_frames", std::to_string(r.droppedFrames));
  field("xruns", std::to_string(r.xruns));
  field("mic_calibration", r.micCalibration ? jsonQuoted(*r.micCalibration) : "null");
  field("target", r.target ? formatTarget(*r.target) : "null", true);
  out += "}\n";
  return out;
}

}  // namespace qv
