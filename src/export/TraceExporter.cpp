#include "export/TraceExporter.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <map>
#include <mutex>

#include "engine/AnalysisConstants.h"
#include "engine/LinToLogTransformer.h"
#include "export/AnalysisResult.h"
#include "export/ResultWriters.h"
#include "platform/OutputFile.h"

namespace qv {
namespace {

// The live program analyses at 44.1 kHz; traces stored by the command-line analyser
// carry the band table of their file's rate.
constexpr std::int64_t kRates[] = {44100, 48000, 88200, 96000, 176400, 192000, 32000, 22050};

const std::vector<float>& frequenciesAtRate(std::int64_t rate) {
  static std::mutex mutex;
  static std::map<std::int64_t, std::vector<float>> tables;
  std::lock_guard<std::mutex> lock(mutex);
  auto found = tables.find(rate);
  if (found == tables.end()) {
    const LinToLogTransformer axis(nullptr, kAnalysisFftSize, rate, kBandsPerOctave);
    std::vector<float> table(static_cast<std::size_t>(axis.bandCount()));
    for (std::size_t b = 0; b < table.size(); ++b) {
      table[b] = axis.frequencyForBandIndex(static_cast<float>(b));
    }
    found = tables.emplace(rate, std::move(table)).first;
  }
  return found->second;
}

void appendFrdValue(std::string& out, float value, const char* format) {
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, format, static_cast<double>(value));
  out += buffer;
}

// Header lines start with '*', which FRD readers skip; line breaks inside a name or
// comment must not start a data line.
std::string oneLine(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return out;
}

std::string formatFrd(const TraceShot& shot, const std::vector<float>& frequency,
                      const std::vector<float>& magnitude, const std::vector<float>& phase) {
  std::string out;
  out.reserve(64 * frequency.size() + 256);
  out += "* Quorvex trace: " + oneLine(shot.name.value_or("Unnamed")) + "\n";
  if (shot.dateCreated)
    out += "* Captured: " + TraceExporter::utcDescription(*shot.dateCreated) + " UTC\n";
  if (shot.comment && !shot.comment->empty()) out += "* " + oneLine(*shot.comment) + "\n";
  if (shot.calibration) out += "* Microphone calibration: " + oneLine(*shot.calibration) + "\n";
  out += "* frequency_hz magnitude_db phase_deg\n";
  for (std::size_t b = 0; b < frequency.size(); ++b) {
    if (!std::isfinite(magnitude[b]) || !std::isfinite(phase[b])) continue;
    appendFrdValue(out, frequency[b], "%.4f");
    out += ' ';
    appendFrdValue(out, magnitude[b], "%.4f");
    out += ' ';
    appendFrdValue(out, phase[b], "%.3f");
    out += '\n';
  }
  return out;
}

void appendJsonArray(std::string& out, const char* key, const std::vector<float>& values,
                     const char* format, bool last = false) {
  out += "  ";
  out += jsonQuoted(key);
  out += ": [";
  char buffer[48];
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i > 0) out += ", ";
    if (std::isfinite(values[i])) {
      std::snprintf(buffer, sizeof buffer, format, static_cast<double>(values[i]));
      out += buffer;
    } else {
      out += "null";
    }
  }
  out += last ? "]\n" : "],\n";
}

std::string optionalText(const std::optional<std::string>& text) {
  return text ? jsonQuoted(*text) : std::string("null");
}

std::string formatJsonShot(const TraceShot& shot, const AnalysisResult& r) {
  std::string out;
  out.reserve(48 * r.frequency.size() + 512);
  out += "{\n";
  out += "  \"name\": " + optionalText(shot.name) + ",\n";
  out += "  \"captured\": " +
         (shot.dateCreated ? jsonQuoted(TraceExporter::isoDescription(*shot.dateCreated))
                           : std::string("null")) +
         ",\n";
  out += "  \"comment\": " + optionalText(shot.comment) + ",\n";
  out += "  \"source\": " + optionalText(shot.source) + ",\n";
  out += "  \"mic_calibration\": " + optionalText(shot.calibration) + ",\n";
  out += "  \"bands\": " + std::to_string(r.frequency.size()) + ",\n";
  // The same digits as the CSV's columns.
  appendJsonArray(out, "frequency_hz", r.frequency, "%.4f");
  appendJsonArray(out, "magnitude_db", r.magnitude, "%.4f");
  appendJsonArray(out, "phase_deg", r.phase, "%.3f");
  appendJsonArray(out, "coherence", r.coherence, "%.5f", true);
  out += "}\n";
  return out;
}

}  // namespace

std::vector<float> TraceExporter::bandFrequenciesForCount(std::size_t count) {
  for (std::int64_t rate : kRates) {
    const auto& table = frequenciesAtRate(rate);
    if (table.size() == count) return table;
  }
  return {};
}

bool TraceExporter::formatShot(const TraceShot& shot, TraceExportFormat format, std::string* text,
                               std::string* error) {
  if (!shot.magnitudeData || !shot.phaseData || !shot.coherenceData ||
      shot.magnitudeData->size() != shot.phaseData->size() ||
      shot.magnitudeData->size() != shot.coherenceData->size() ||
      shot.magnitudeData->size() % 4 != 0 || shot.magnitudeData->empty()) {
    if (error) *error = "The trace's curves cannot be read.";
    return false;
  }
  AnalysisResult r;
  r.magnitude = TraceShot::floatsFromBlob(*shot.magnitudeData);
  r.phase = TraceShot::floatsFromBlob(*shot.phaseData);
  r.coherence = TraceShot::floatsFromBlob(*shot.coherenceData);
  r.frequency = bandFrequenciesForCount(r.magnitude.size());
  if (r.frequency.empty()) {
    if (error) {
      *error = "The trace has " + std::to_string(r.magnitude.size()) +
               " points, which fit no frequency table of this program.";
    }
    return false;
  }
  // Stored coherence spans 0 to 180 so that it shares the phase chart's scale.
  for (float& c : r.coherence) c /= kCoherenceScale;
  switch (format) {
    case TraceExportFormat::Csv:
      *text = formatCsv(r);
      break;
    case TraceExportFormat::Frd:
      *text = formatFrd(shot, r.frequency, r.magnitude, r.phase);
      break;
    case TraceExportFormat::Json:
      *text = formatJsonShot(shot, r);
      break;
  }
  return true;
}

bool TraceExporter::exportShot(const TraceShot& shot, TraceExportFormat format,
                               const std::string& path, std::string* error) {
  std::string text;
  if (!formatShot(shot, format, &text, error)) return false;
  return OutputFile::writeWhole(path, text, error, /*waitForReader=*/false);
}

std::string TraceExporter::suggestedFileName(const TraceShot& shot, TraceExportFormat format) {
  std::string base = shot.name.value_or(std::string());
  for (char& c : base) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || c == '/' || c == '\\' || c == ':' || c == '*' || c == '?' || c == '"' ||
        c == '<' || c == '>' || c == '|') {
      c = '_';
    }
  }
  if (base.empty() || base == "." || base == "..") base = "Unnamed";
  return base + "." + extension(format);
}

const char* TraceExporter::extension(TraceExportFormat format) {
  switch (format) {
    case TraceExportFormat::Csv:
      return "csv";
    case TraceExportFormat::Frd:
      return "frd";
    case TraceExportFormat::Json:
      break;
  }
  return "json";
}

std::string TraceExporter::utcDescription(const TraceDate& date) {
  const auto seconds = std::chrono::floor<std::chrono::seconds>(date);
  const auto t = static_cast<std::time_t>(seconds.time_since_epoch().count());
  std::tm utc{};
  if (!gmtime_r(&t, &utc)) return {};
  char text[32];
  if (std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &utc) == 0) return {};
  return text;
}

std::string TraceExporter::isoDescription(const TraceDate& date) {
  const auto seconds = std::chrono::floor<std::chrono::seconds>(date);
  const auto micros = (date - seconds).count();
  const auto t = static_cast<std::time_t>(seconds.time_since_epoch().count());
  std::tm utc{};
  if (!gmtime_r(&t, &utc)) return {};
  char text[32];
  if (std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc) == 0) return {};
  char fraction[16];
  std::snprintf(fraction, sizeof fraction, ".%06lldZ", static_cast<long long>(micros));
  return std::string(text) + fraction;
}

}  // namespace qv
