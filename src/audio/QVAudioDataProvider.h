#pragma once
// The producer side of recorded audio: consumers register and unregister here.
// Consumers are held strongly while registered; a removal takes effect before the next
// block.
#include <memory>

#include "audio/QVRecorderConsumer.h"

namespace qv {

class QVAudioDataProvider {
 public:
  virtual ~QVAudioDataProvider() = default;
  virtual void addConsumer(std::shared_ptr<QVRecorderConsumer> consumer) = 0;
  virtual void removeConsumer(const std::shared_ptr<QVRecorderConsumer>& consumer) = 0;
};

}  // namespace qv
