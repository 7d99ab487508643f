#pragma once
// A push unit with exactly one place its output goes. Chain thread only.
#include <memory>

#include "engine/PushUnitProtocol.h"

namespace qv {

class OneOutputPushUnitProtocol {
 public:
  virtual ~OneOutputPushUnitProtocol() = default;
  virtual std::shared_ptr<PushUnitProtocol> nextUnit() const = 0;
};

}  // namespace qv
