#pragma once
// Collects the log lines written while it lives, from any thread, and puts the sink that
// was there before back when it goes.
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Log.h"

namespace qv::test {

class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<std::string> lines() const;
  std::size_t size() const;
  // The lines that hold `text` somewhere.
  int count(const std::string& text) const;
  bool contains(const std::string& text) const { return count(text) > 0; }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
  LogSink previous_;
};

}  // namespace qv::test
