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

std::string formatCsv(const AnalysisResult& r) {
  const bool groupDelay = !r.groupDelay.empty();
  std::string out = "frequency_hz,magnitude_db,phase_deg,coherence";
  out += groupDelay ? ",group_delay_ms\n" : "\n";
  out.reserve(out.size() + r.frequency.size() * (groupDelay ? 52 : 40));
  for (size_t b = 0; b < r.frequency.size(); ++b) {
    appendValue(out, r.frequency[b], "%.4f");
    out += ',';
    appendValue(out, r.magnitude[b], "%.4f");
    out += ',';
    appendValue(out, r.phase[b], "%.3f");
    out += ',';
    appendValue(out, r.coherence[b], "%.5f");
    if (groupDelay) {
      out += ',';
      if (b < r.groupDelay.size()) appendValue(out, r.groupDelay[b], "%.4f");
    }
    out += '\n';
  }
  return out;
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

std::string formatJson(const AnalysisResult& r) {
  std::string out = "{\n";
  auto field = [&](const char* name, const std::string& value, bool last = false) {
    out += "  ";
    out += jsonQuoted(name);
    out += ": ";
    out += value;
    out += last ? "\n" : ",\n";
  };
  field("source", jsonQuoted(r.source));
  field("sample_rate_hz", std::to_string(r.sampleRate));
  field("bands", std::to_string(r.frequency.size()));
  field("fft_size", std::to_string(r.fftSize));
  field("smoothing", std::to_string(r.smoothing));
  field("averaging", std::to_string(r.averaging));
  field("coherence_threshold", jsonNumber(r.coherenceThreshold));
  field("delay_set_ms", jsonNumber(r.delaySetMs));
  field("delay_found_ms", jsonNumber(r.delayFoundMs));
  field("mean_coherence", jsonNumber(r.meanCoherence));
  field("frames_analysed", std::to_string(r.framesAnalysed), true);
  out += "}\n";
  return out;
}

}  // namespace qv
