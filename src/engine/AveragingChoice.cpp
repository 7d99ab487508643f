#include "engine/AveragingChoice.h"

#include <cmath>
#include <cstdio>

namespace qv {
namespace {

const char* nameOf(int index) {
  switch (index) {
    case 1000:
      return "None";
    case 500:
      return "Very fast";
    case 200:
      return "Faster";
    case 100:
      return "Fast";
    case 50:
      return "Medium";
    case 20:
      return "Steady";
    case 10:
      return "Slow";
    case 5:
      return "Slower";
    case 2:
      return "Very slow";
    case 1:
      return "Slowest";
    default:
      return nullptr;
  }
}

}  // namespace

double AveragingChoice::timeConstant(int index, double tickInterval) {
  if (index < 1 || index >= kNone || !(tickInterval > 0.0)) return 0.0;
  return -tickInterval / std::log1p(-index / 1000.0);
}

std::string AveragingChoice::roundedSeconds(double seconds) {
  char text[32];
  // One significant figure reads at a glance; from 10 s on, whole seconds.
  if (seconds < 10.0) {
    std::snprintf(text, sizeof text, "%.1g", seconds);
  } else {
    std::snprintf(text, sizeof text, "%.0f", seconds);
  }
  return text;
}

std::string AveragingChoice::label(int index, double tickInterval) {
  if (index == kNone) return "None";
  const std::string seconds =
      "(\u2248 " + roundedSeconds(timeConstant(index, tickInterval)) + " s)";
  if (const char* name = nameOf(index)) return std::string(name) + " " + seconds;
  return "Index " + std::to_string(index) + " " + seconds;
}

std::string AveragingChoice::description(int index, double tickInterval) {
  if (index == kNone) return "No averaging: every display update shows the newest analysis alone.";
  char text[200];
  std::snprintf(text, sizeof text,
                "Exponential average with a time constant of %.2f s: every display update "
                "(each %.0f ms) weighs the newest analysis %g %% (averaging index %d).",
                timeConstant(index, tickInterval), tickInterval * 1000.0, index / 10.0, index);
  return text;
}

}  // namespace qv
