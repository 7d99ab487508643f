#pragma once
// A stored trace as a text file: CSV (the command-line analyser's columns, coherence 0 to
// 1, blanked bands as empty fields) or FRD (frequency, dB, degrees; blanked bands left
// out), written atomically. Needs no Qt. Any thread; the band tables are built once per
// sampling rate under a lock.
#include <string>
#include <vector>

#include "traces/TraceShot.h"

namespace qv::gui {

enum class TraceExportFormat { Csv, Frd };

class TraceExporter {
 public:
  // The centre frequency of every point of a curve with `count` points: the band table of
  // the live analysis (FFT 32768, 96 bands per 0.3 decade) at 44.1 kHz, or at another
  // usual rate whose table has exactly that many bands. Empty when none has.
  static std::vector<float> bandFrequenciesForCount(std::size_t count);

  // The file's text; false with a reason when the trace's curves cannot be read.
  static bool formatShot(const TraceShot& shot, TraceExportFormat format, std::string* text,
                         std::string* error);
  // Formats and writes `path` through a temporary file beside it; on failure nothing is
  // left behind and `error` says why.
  static bool exportShot(const TraceShot& shot, TraceExportFormat format, const std::string& path,
                         std::string* error);

  // "<name>.csv" / "<name>.frd" with characters unsafe in file names replaced.
  static std::string suggestedFileName(const TraceShot& shot, TraceExportFormat format);
  static const char* extension(TraceExportFormat format);
  // The capture time in UTC without the zone ("2026-12-05 15:29:42").
  static std::string utcDescription(const TraceDate& date);
};

}  // namespace qv::gui
