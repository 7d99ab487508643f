#include "engine/SmoothingModel.h"

#include <algorithm>
#include <cstdio>

namespace qv {

bool SmoothingModel::isOffered(int64_t smoothing) {
  return std::find(kSmoothingValues.begin(), kSmoothingValues.end(), smoothing) !=
         kSmoothingValues.end();
}

std::string SmoothingModel::smoothingStringFromSmoothing(int64_t smoothing) {
  if (smoothing == 1) return "1 oct";
  char text[32];
  std::snprintf(text, sizeof text, "1/%ld", static_cast<long>(smoothing));
  return text;
}

std::string SmoothingModel::averagingStringFromAveraging(int64_t averaging) {
  char text[32];
  std::snprintf(text, sizeof text, "%ld", static_cast<long>(averaging));
  return text;
}

}  // namespace qv
