#pragma once
// Plain log lines on stderr, printf style, no levels. Safe from any thread except the
// audio driver's (it formats and writes). Tests may install a sink to read the lines.
#include <functional>
#include <string>

namespace qv {

void log(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Replaces where log lines go (nullptr: back to stderr). Returns the previous sink.
using LogSink = std::function<void(const std::string& line)>;
LogSink setLogSink(LogSink sink);

}  // namespace qv
