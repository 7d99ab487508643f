#pragma once
// Reads what quorvex-analyze writes: the curves CSV (one row per band, blanked values as
// empty fields) and single numbers of its JSON summary.
#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace qv::clitest {

struct CsvRow {
  double frequency;
  std::optional<double> magnitude, phase, coherence;
};

inline std::vector<CsvRow> parseCsv(const std::string& csv) {
  std::istringstream in(csv);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "frequency_hz,magnitude_db,phase_deg,coherence");
  const auto value = [](const std::string& s) -> std::optional<double> {
    if (s.empty()) return std::nullopt;
    return std::stod(s);
  };
  std::vector<CsvRow> rows;
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    std::stringstream ls(line);
    std::string field;
    while (std::getline(ls, field, ',')) fields.push_back(field);
    while (fields.size() < 4) fields.emplace_back();
    rows.push_back({std::stod(fields[0]), value(fields[1]), value(fields[2]), value(fields[3])});
  }
  return rows;
}

// The number after "key": in the JSON summary; nothing when absent or null.
inline std::optional<double> jsonNumber(const std::string& json, const std::string& key) {
  const auto at = json.find("\"" + key + "\": ");
  if (at == std::string::npos) return std::nullopt;
  const std::string rest = json.substr(at + key.size() + 4);
  if (rest.rfind("null", 0) == 0) return std::nullopt;
  return std::stod(rest);
}

}  // namespace qv::clitest
