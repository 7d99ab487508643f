#include <benchmark/benchmark.h>

#include "audio/PinkNoiseGenerator.h"
#include "audio/QVRecorder.h"
#include "audiolib/AudioLibrary.h"
#include "audiolib/backends/virtual/VirtualSoundSystem.h"

namespace {

// The generator's stream callback for one JACK period.
void BM_PinkNoise1024(benchmark::State& state) {
  qv::SubtractiveRandom random;
  qv::PinkNoiseGenerator generator(48000);
  std::vector<float> out(1024);
  for (auto _ : state) {
    generator.generate(out.data(), 1024, random);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_PinkNoise1024);

// A null consumer: measures the producer side only.
class NullConsumer final : public qv::QVRecorderConsumer {
 public:
  void setInputChannelCountSamplingRateAudioDataTransport(
      uint32_t, uint32_t, std::weak_ptr<qv::QVAudioDataTransport>) override {}
  void getData(const void* data, uint32_t) override { benchmark::DoNotOptimize(data); }
  std::weak_ptr<qv::QVAudioDataTransport> audioDataTransport() const override { return {}; }
  void setAudioDataTransport(std::weak_ptr<qv::QVAudioDataTransport>) override {}
  uint32_t inputChannelCount() const override { return 2; }
  uint64_t outputChannelCount() const override { return 0; }
  uint64_t samplingRate() const override { return 44100; }
  uint32_t requiredMinimumDataSize() const override { return 0; }
};

// One 125 ms period of the simulated room through capture, channel map and delivery.
void BM_VirtualPeriodThroughRecorder(benchmark::State& state) {
  qv::AudioLibrary::Options options;
  options.portAudio = false;
  options.simulatedTime = true;
  options.rescanSeconds = 0;
  qv::AudioLibrary library(options);
  auto recorder = qv::QVRecorder::initWithDeviceUUID("Virtual:Virtual Sound System", 2, 44100,
                                                     false, {}, library);
  recorder->addConsumer(std::make_shared<NullConsumer>());
  recorder->resumeRec();
  for (auto _ : state) library.virtualSoundSystem().render(5513);
  recorder->stopRec();
}
BENCHMARK(BM_VirtualPeriodThroughRecorder)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
