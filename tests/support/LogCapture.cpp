#include "support/LogCapture.h"

namespace qv::test {

LogCapture::LogCapture() {
  previous_ = setLogSink([this](const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(line);
  });
}

LogCapture::~LogCapture() { setLogSink(previous_); }

std::vector<std::string> LogCapture::lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

std::size_t LogCapture::size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_.size();
}

int LogCapture::count(const std::string& text) const {
  std::lock_guard<std::mutex> lock(mutex_);
  int n = 0;
  for (const auto& line : lines_) n += line.find(text) != std::string::npos;
  return n;
}

}  // namespace qv::test
