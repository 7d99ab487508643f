// The trace store's property-list trace files: found in the documents folder and read
// through TraceFileReader. Main thread, like the rest of the store.
#include "traces/TraceFileReader.h"
#include "traces/TraceManager.h"

namespace qv {

void TraceManager::getDocPath() { documentPath_ = TraceFileReader::traceFolder(); }

std::optional<TraceDictionary> TraceManager::readShotData(const TraceShot& shot) const {
  if (!shot.filepath) return std::nullopt;
  return TraceFileReader::read(*shot.filepath);
}

std::optional<TraceDictionary> TraceManager::loadTracesWithName(const std::string& fileName) const {
  return TraceFileReader::load(documentPath_, fileName);
}

void TraceManager::magnitudeFromDictionarySuccess(const TraceDictionary& dictionary,
                                                  const TraceCurveCallback& success) const {
  TraceFileReader::curve("magnitude", dictionary, success, true);
}

void TraceManager::phaseFromDictionarySuccess(const TraceDictionary& dictionary,
                                              const TraceCurveCallback& success) const {
  TraceFileReader::curve("phase", dictionary, success, true);
}

void TraceManager::coherenceFromDictionarySuccess(const TraceDictionary& dictionary,
                                                  const TraceCurveCallback& success) const {
  TraceFileReader::curve("coherence", dictionary, success, true);
}

void TraceManager::traceWithTypeFromDictionarySuccess(const std::string& type,
                                                      const TraceDictionary& dictionary,
                                                      const TraceCurveCallback& success) {
  TraceFileReader::curve(type, dictionary, success, false);
}

}  // namespace qv
