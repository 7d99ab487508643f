#include "platform/Assert.h"

#include <cstdio>
#include <cstdlib>

namespace qv {

void assertionFailed(const char* condition, const char* file, int line, const char* function) {
  // Straight to stderr: a log sink may be the thing that is broken.
  std::fprintf(stderr, "Assertion failure: %s (%s, %s:%d)\n", condition, function, file, line);
  std::fflush(stderr);
  std::abort();
}

}  // namespace qv
