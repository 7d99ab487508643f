#include "traces/TraceFileReader.h"

#include "platform/Log.h"
#include "traces/TraceFolders.h"

namespace qv {

std::string TraceFileReader::traceFolder() {
  return TraceFolders::documentsFolder() + "/QuorvexDocuments/Traces";
}

bool TraceFileReader::isPlainFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string("/\0", 2)) == std::string::npos;
}

std::optional<TraceDictionary> TraceFileReader::load(const std::string& folder,
                                                     const std::string& fileName) {
  if (folder.empty()) {
    qv::log("Trace file %s: the trace folder is not known yet", fileName.c_str());
    return std::nullopt;
  }
  if (!isPlainFileName(fileName)) {
    qv::log("Trace file %s: not a file name inside the trace folder", fileName.c_str());
    return std::nullopt;
  }
  return read(folder + "/" + fileName);
}

std::optional<TraceDictionary> TraceFileReader::read(const std::string& path) {
  std::string error;
  auto dictionary = TraceDictionary::readFile(path, &error);
  if (!dictionary) qv::log("Trace file %s: %s", path.c_str(), error.c_str());
  return dictionary;
}

void TraceFileReader::curve(const std::string& type, const TraceDictionary& dictionary,
                            const CurveCallback& success, bool checkClass) {
  if (checkClass && dictionary.stringForKey("class") != "transferfunction") {
    qv::log("Wrong trace class!!");
    return;
  }
  if (!dictionary.hasArrayForKey(type)) return;
  const auto values = dictionary.floatsForKey(type);
  if (!values) {
    qv::log("Trace file: the %s array holds a value that is not a number", type.c_str());
    return;
  }
  success(values->empty() ? nullptr : values->data(), values->size());
}

}  // namespace qv
