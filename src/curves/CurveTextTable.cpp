#include "curves/CurveTextTable.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>

namespace qv::curves {
namespace {

constexpr double kBlank = std::numeric_limits<double>::quiet_NaN();

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

// A line without its line break and outer spaces; trailing tabs stay, since they separate
// empty fields.
std::string_view trimLine(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// Splits on commas when the line has any, else on tabs, else on runs of spaces; fields
// are trimmed and may be quoted.
void split(std::string_view line, std::vector<std::string_view>& fields) {
  fields.clear();
  char separator = ' ';
  if (line.find(',') != std::string_view::npos) {
    separator = ',';
  } else if (line.find('\t') != std::string_view::npos) {
    separator = '\t';
  }
  if (separator == ' ') {
    std::size_t i = 0;
    while (i < line.size()) {
      while (i < line.size() && line[i] == ' ') ++i;
      const std::size_t start = i;
      while (i < line.size() && line[i] != ' ') ++i;
      if (i > start) fields.push_back(line.substr(start, i - start));
    }
  } else {
    std::size_t start = 0;
    for (;;) {
      const std::size_t end = line.find(separator, start);
      fields.push_back(trim(line.substr(start, end == std::string_view::npos ? end : end - start)));
      if (end == std::string_view::npos) break;
      start = end + 1;
    }
  }
  for (std::string_view& field : fields) {
    if (field.size() >= 2 && field.front() == '"' && field.back() == '"') {
      field = trim(field.substr(1, field.size() - 2));
    }
  }
}

// A number, or blank for an empty field; false for anything else.
bool number(std::string_view field, double* value) {
  if (field.empty()) {
    *value = kBlank;
    return true;
  }
  if (field.front() == '+') field.remove_prefix(1);
  const auto result = std::from_chars(field.data(), field.data() + field.size(), *value);
  return result.ec == std::errc() && result.ptr == field.data() + field.size();
}

std::string lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

std::string numberText(double value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

}  // namespace

std::string CurveFileError::text() const {
  if (line == 0) return message;
  return "Line " + std::to_string(line) + ": " + message;
}

int CurveTextTable::find(std::initializer_list<std::string_view> parts, int fallback) const {
  if (names.empty()) {
    return fallback >= 0 && static_cast<std::size_t>(fallback) < columns.size() ? fallback : -1;
  }
  for (std::size_t c = 0; c < names.size() && c < columns.size(); ++c) {
    for (std::string_view part : parts) {
      if (names[c].find(part) != std::string::npos) return static_cast<int>(c);
    }
  }
  return -1;
}

bool CurveTextTable::parse(std::string_view text, std::size_t minColumns, CurveTextTable* table,
                           CurveFileError* error, bool ragged, std::size_t maxColumns) {
  *table = {};
  *error = {};
  // A byte-order mark is not part of the first line.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::vector<std::string_view> fields;
  std::size_t lineNumber = 0;
  std::size_t width = 0;
  auto refuse = [&](std::size_t line, std::string message) {
    *error = {line, std::move(message)};
    return false;
  };
  while (!text.empty()) {
    ++lineNumber;
    const std::size_t end = text.find('\n');
    const std::string_view raw = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    const std::string_view line = trimLine(raw);
    if (line.empty()) continue;
    if (line.front() == '*' || line.front() == '#' || line.front() == ';') {
      if (table->lines.empty()) table->preamble.emplace_back(trim(raw));
      continue;
    }
    split(line, fields);
    double first = 0.0;
    if (!number(fields.front(), &first) || fields.front().empty()) {
      if (!table->lines.empty()) {
        return refuse(lineNumber, "\"" + std::string(fields.front()) + "\" is not a number.");
      }
      table->preamble.emplace_back(line);
      // The line naming a frequency column names them all.
      const std::string named = lower(line);
      if (table->names.empty() && fields.size() >= 2 &&
          (named.find("freq") != std::string::npos || named.find("hz") != std::string::npos)) {
        for (std::string_view field : fields) table->names.push_back(lower(field));
      }
      continue;
    }
    if (ragged) {
      if (fields.size() < minColumns || fields.size() > maxColumns) {
        return refuse(lineNumber, std::to_string(fields.size()) + " values where " +
                                      std::to_string(minColumns) + " to " +
                                      std::to_string(maxColumns) + " are needed.");
      }
      // Every row as wide as the widest: missing values are blank.
      if (fields.size() > width) {
        width = fields.size();
        table->columns.resize(width, std::vector<double>(table->lines.size(), kBlank));
      }
      while (fields.size() < width) fields.emplace_back();
    } else if (table->lines.empty()) {
      width = fields.size();
      if (width < minColumns) {
        return refuse(lineNumber, std::to_string(width) + (width == 1 ? " value" : " values") +
                                      " where at least " + std::to_string(minColumns) +
                                      " are needed.");
      }
      table->columns.assign(width, {});
    } else if (fields.size() != width) {
      return refuse(lineNumber, std::to_string(fields.size()) +
                                    " values where the lines before have " + std::to_string(width) +
                                    ".");
    }
    if (!std::isfinite(first) || first <= 0.0) {
      return refuse(lineNumber,
                    "the frequency " + std::string(fields.front()) + " is not above 0 Hz.");
    }
    if (!table->lines.empty() && first <= table->columns[0].back()) {
      return refuse(lineNumber, "the frequency " + numberText(first) + " Hz does not rise above " +
                                    numberText(table->columns[0].back()) + " Hz of line " +
                                    std::to_string(table->lines.back()) + ".");
    }
    table->columns[0].push_back(first);
    for (std::size_t c = 1; c < width; ++c) {
      double value = 0.0;
      if (!number(fields[c], &value)) {
        return refuse(lineNumber, "\"" + std::string(fields[c]) + "\" is not a number.");
      }
      table->columns[c].push_back(value);
    }
    table->lines.push_back(lineNumber);
  }
  if (table->rows() < 2) {
    return refuse(0, table->rows() == 0 ? "The file holds no curve: no line of numbers."
                                        : "The file holds one point; a curve needs two.");
  }
  return true;
}

}  // namespace qv::curves
