#include "engine/Unit.h"

#include "platform/Assert.h"

namespace qv {

uint64_t Unit::unitFunction() const {
  QV_ASSERT(0);
  return 0;
}

}  // namespace qv
