#include "platform/Clock.h"

#include <ctime>

namespace qv {

double MonotonicClock::now() const {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

std::shared_ptr<Clock> Clock::system() {
  static const std::shared_ptr<Clock> clock = std::make_shared<MonotonicClock>();
  return clock;
}

}  // namespace qv
