#include "curves/MicCalibration.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>

#include "curves/CurveFile.h"

namespace qv::curves {
namespace {

// The first number after the word "sens…" in a preamble line, if any.
std::optional<double> sensitivityIn(const std::vector<std::string>& preamble) {
  for (const std::string& line : preamble) {
    std::string lowered(line);
    std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const auto at = lowered.find("sens");
    if (at == std::string::npos) continue;
    for (std::size_t i = at; i < line.size(); ++i) {
      const char c = line[i];
      if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '-' || c == '.')) continue;
      double value = 0.0;
      const auto result = std::from_chars(line.data() + i, line.data() + line.size(), value);
      if (result.ec == std::errc() && std::isfinite(value)) return value;
    }
  }
  return std::nullopt;
}

}  // namespace

bool MicCalibration::parse(std::string_view text, std::string name, MicCalibration* calibration,
                           CurveFileError* error) {
  CurveTextTable table;
  if (!CurveTextTable::parse(text, 2, &table, error)) return false;
  int level = table.find({"db", "mag", "spl", "level", "gain", "cal"}, 1);
  if (level < 1) level = 1;
  MicCalibration made;
  made.name_ = std::move(name);
  made.sensitivity_ = sensitivityIn(table.preamble);
  for (std::size_t row = 0; row < table.rows(); ++row) {
    const double deviation = table.columns[level][row];
    if (!std::isfinite(deviation)) {
      *error = {table.lines[row], "the calibration has no level in dB."};
      return false;
    }
    made.frequency_.push_back(std::log10(table.columns[0][row]));
    made.deviation_.push_back(deviation);
  }
  *calibration = std::move(made);
  return true;
}

bool MicCalibration::load(const std::string& path, MicCalibration* calibration,
                          CurveFileError* error) {
  std::string text;
  return CurveFile::readText(path, &text, error) &&
         parse(text, CurveFile::fileName(path), calibration, error);
}

std::vector<float> MicCalibration::correctionFor(const BandAxis& axis) const {
  std::vector<float> correction(axis.bandCount(), 0.0f);
  if (frequency_.empty()) return correction;
  const std::size_t n = frequency_.size();
  std::size_t i = 0;
  for (std::size_t b = 0; b < correction.size(); ++b) {
    const double f = std::log10(static_cast<double>(axis.frequency(b)));
    double deviation = 0.0;
    if (f <= frequency_.front()) {
      deviation = deviation_.front();
    } else if (f >= frequency_.back()) {
      deviation = deviation_.back();
    } else {
      while (i + 1 < n && frequency_[i + 1] <= f) ++i;
      const double t = (f - frequency_[i]) / (frequency_[i + 1] - frequency_[i]);
      deviation = deviation_[i] + t * (deviation_[i + 1] - deviation_[i]);
    }
    correction[b] = static_cast<float>(-deviation);
  }
  return correction;
}

void MicCalibration::apply(std::vector<float>& magnitude, const std::vector<float>& correction) {
  const std::size_t n = std::min(magnitude.size(), correction.size());
  for (std::size_t b = 0; b < n; ++b) magnitude[b] += correction[b];
}

}  // namespace qv::curves
