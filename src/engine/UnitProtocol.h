#pragma once
// The roles of processing units. A chain is built and driven from one thread; references
// downstream are strong (shared_ptr), upstream weak, so whoever holds the head owns it.
#include <memory>

#include "engine/UnitBufferSize.h"

namespace qv {

// Every unit lives in a shared_ptr so that the unit after it can point back weakly.
class UnitProtocol : public std::enable_shared_from_this<UnitProtocol> {
 public:
  virtual ~UnitProtocol() = default;
  virtual UnitBufferSize unitGetInputSize() const = 0;
  virtual UnitBufferSize unitGetOutputSize() const = 0;
  virtual uint64_t unitFunction() const = 0;
};

}  // namespace qv
