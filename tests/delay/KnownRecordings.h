#pragma once
// Feeds a recording with a known truth to the delay locator as the recorder would (blocks
// of 0.1 s, a tick after each), in the locator's manual mode, and keeps what it reports.
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "delay/DelayLocator.h"
#include "support/KnownSystems.h"

namespace qv::test {

class LocatorRun {
 public:
  explicit LocatorRun(uint32_t rate, const DelaySearch::Settings& settings = {})
      : rate_(rate), locator_(std::make_shared<DelayLocator>(/*ownTimer=*/false)) {
    locator_->setSettings(settings);
    locator_->setInputChannelCountSamplingRateAudioDataTransport(2, rate, {});
  }

  // Runs the whole recording (interleaved measurement, reference), calling `each` with
  // every tick's estimate and the time at its end.
  void run(const std::vector<float>& frames,
           const std::function<void(const DelayEstimate&, double seconds)>& each = {}) {
    const size_t block = rate_ / 10;
    const size_t total = frames.size() / 2;
    for (size_t at = 0; at + block <= total; at += block) {
      locator_->getData(frames.data() + 2 * at, static_cast<uint32_t>(block * 8));
      if (!locator_->processTick()) continue;
      if (each) each(locator_->lastEstimate(), static_cast<double>(at + block) / rate_);
    }
  }

  DelayLocator& locator() { return *locator_; }

 private:
  uint32_t rate_;
  std::shared_ptr<DelayLocator> locator_;
};

}  // namespace qv::test
