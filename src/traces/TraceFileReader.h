#pragma once
// Property-list trace files for the trace store: where they live, reading one by name
// from the trace folder (plain names only, bounded in size) and taking its curves apart.
// Failures are logged as "Trace file <name>: <reason>". Stateless; any thread.
#include <functional>
#include <optional>
#include <string>

#include "traces/TraceDictionary.h"

namespace qv {

class TraceFileReader {
 public:
  using CurveCallback = std::function<void(const float* values, std::size_t count)>;

  // "QuorvexDocuments/Traces" in the user's documents folder.
  static std::string traceFolder();
  // A name that stays inside the folder it is joined to: not empty, no "/", not "." or
  // "..", no NUL.
  static bool isPlainFileName(const std::string& name);
  // The file `fileName` in `folder`; no value when the folder is not known yet (empty),
  // the name is not plain, or the file cannot be read.
  static std::optional<TraceDictionary> load(const std::string& folder,
                                             const std::string& fileName);
  static std::optional<TraceDictionary> read(const std::string& path);

  // The curve under `type` ("magnitude", "phase", "coherence") handed to `success`:
  // nothing when the value is not an array; with `checkClass`, only from a dictionary of
  // class "transferfunction" (otherwise "Wrong trace class!!" is logged).
  static void curve(const std::string& type, const TraceDictionary& dictionary,
                    const CurveCallback& success, bool checkClass);
};

}  // namespace qv
