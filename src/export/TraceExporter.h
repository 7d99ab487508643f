#pragma once
// A stored trace as a text file: CSV (the command-line analyser's columns, coherence 0 to
// 1, blanked bands as empty fields), FRD (frequency, dB, degrees; blanked bands left out)
// or JSON (name, capture time, comment and the four columns, blanked values null).
// Any thread; the band tables are built once per sampling rate under a lock.
#include <string>
#include <vector>

#include "traces/TraceShot.h"

namespace qv {

enum class TraceExportFormat { Csv, Frd, Json };

class TraceExporter {
 public:
  // The centre frequency of every point of a curve with `count` points: the band table of
  // the live analysis (FFT 32768, 96 bands per 0.3 decade) at 44.1 kHz, or at another
  // usual rate whose table has exactly that many bands. Empty when none has.
  static std::vector<float> bandFrequenciesForCount(std::size_t count);

  // The file's text; false with a reason when the trace's curves cannot be read.
  static bool formatShot(const TraceShot& shot, TraceExportFormat format, std::string* text,
                         std::string* error);
  // Formats and writes `path` (see OutputFile: a regular file is replaced whole, a FIFO
  // or device written straight); on failure nothing is left behind and `error` says why.
  // A FIFO that no program reads from fails at once: the caller's thread never waits.
  static bool exportShot(const TraceShot& shot, TraceExportFormat format, const std::string& path,
                         std::string* error);

  // "<name>.csv" / ".frd" / ".json" with characters unsafe in file names replaced.
  static std::string suggestedFileName(const TraceShot& shot, TraceExportFormat format);
  static const char* extension(TraceExportFormat format);
  // The capture time in UTC without the zone ("2026-12-05 15:29:42").
  static std::string utcDescription(const TraceDate& date);
  // The capture time as ISO 8601 in UTC to the microsecond ("2026-12-05T15:29:42.012345Z"),
  // which no two traces of one store share.
  static std::string isoDescription(const TraceDate& date);
};

}  // namespace qv
