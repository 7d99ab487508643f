#pragma once
// The numbers of a curve file in the common text forms: one point a line, comma, tab or
// space separated (FRD and CSV alike); lines starting with '*', '#' or ';' are comments;
// text lines before the first number are a preamble whose line naming the frequency column
// names the columns. An empty field (between commas or tabs) is a blank value (NaN). Every
// data line has as many fields as the first, and the first column (frequency, in Hz; named
// columns may come in any order after it) rises from line to line. Anything else is refused with
// the number of the line at fault. A plain value; parse from any thread.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qv::curves {

// Why a curve file was refused; `line` is 1-based (0: not about one line).
struct CurveFileError {
  std::size_t line = 0;
  std::string message;
  // "Line 12: "1k" is not a number." or the message alone.
  std::string text() const;
};

struct CurveTextTable {
  // Lower-cased names of the columns, when a preamble line names them; else empty.
  std::vector<std::string> names;
  // Comment and text lines before the first data line, as they were (without the newline).
  std::vector<std::string> preamble;
  // columns[c][row]; columns[0] is the frequency.
  std::vector<std::vector<double>> columns;
  // The file's line number of every row, for messages about a row.
  std::vector<std::size_t> lines;

  std::size_t rows() const { return lines.size(); }
  // The column whose name contains any of `parts` (first match), or `fallback` when the
  // columns are not named; -1 when named columns have none or the table has too few.
  int find(std::initializer_list<std::string_view> parts, int fallback) const;

  // At least `minColumns` columns and two rows. `ragged`: lines may have from minColumns
  // to maxColumns values, the missing ones blank (points typed in by hand).
  static bool parse(std::string_view text, std::size_t minColumns, CurveTextTable* table,
                    CurveFileError* error, bool ragged = false, std::size_t maxColumns = 0);
};

}  // namespace qv::curves
