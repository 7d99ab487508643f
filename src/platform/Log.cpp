#include "platform/Log.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

namespace qv {
namespace {
std::mutex& sinkMutex() {
  static std::mutex m;
  return m;
}
LogSink& currentSink() {
  static LogSink sink;
  return sink;
}
}  // namespace

void log(const char* format, ...) {
  char stackBuffer[512];
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(stackBuffer, sizeof stackBuffer, format, args);
  va_end(args);
  std::string line;
  if (needed < 0) {
    line = format;
  } else if (static_cast<size_t>(needed) < sizeof stackBuffer) {
    line.assign(stackBuffer, static_cast<size_t>(needed));
  } else {
    line.resize(static_cast<size_t>(needed) + 1);
    std::vsnprintf(line.data(), line.size(), format, copy);
    line.resize(static_cast<size_t>(needed));
  }
  va_end(copy);

  std::lock_guard<std::mutex> lock(sinkMutex());
  if (currentSink()) {
    currentSink()(line);
    return;
  }
  line.push_back('\n');
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

LogSink setLogSink(LogSink sink) {
  std::lock_guard<std::mutex> lock(sinkMutex());
  LogSink previous = std::move(currentSink());
  currentSink() = std::move(sink);
  return previous;
}

}  // namespace qv
