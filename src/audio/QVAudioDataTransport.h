#pragma once
// The producer's promise to run a block synchronously, never overlapping a delivery.
// Calling it from inside a delivery would wait for itself.
#include <functional>

namespace qv {

class QVAudioDataTransport {
 public:
  virtual ~QVAudioDataTransport() = default;
  virtual void performSafeBlock(const std::function<void()>& block) = 0;
};

}  // namespace qv
