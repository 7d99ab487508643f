#include "audiolib/backends/virtual/VirtualSoundSystem.h"

#include <chrono>
#include <cmath>
#include <cstring>

#include "platform/ThreadName.h"

namespace qv {

struct VirtualSoundSystem::Stream final : BackendStream {
  VirtualSoundSystem* owner = nullptr;
  bool input = false;
  int channels = 1;
  DriverInputFn inputFn = nullptr;
  DriverOutputFn outputFn = nullptr;
  DriverPumpFn pump = nullptr;
  uint32_t pumpFrames = 0;
  uint32_t sincePump = 0;
  void* user = nullptr;
  std::atomic<bool> started{false};

  ~Stream() override { owner->detach(this); }
  bool start() override {
    started.store(true);
    owner->ensureThread();
    return true;
  }
  bool isAlive() const override { return true; }
  bool drivesDelivery() const override { return owner->simulatedTime(); }
};

namespace {

// Second-order Butterworth sections by the bilinear transform: {b0, b1, b2, a1, a2}.
void butterworth(double cutoff, double rate, bool highPass, double* c) {
  const double k = std::tan(M_PI * cutoff / rate);
  const double d = 1 + std::sqrt(2.0) * k + k * k;
  if (highPass) {
    c[0] = 1 / d;
    c[1] = -2 / d;
    c[2] = 1 / d;
  } else {
    c[0] = k * k / d;
    c[1] = 2 * k * k / d;
    c[2] = k * k / d;
  }
  c[3] = 2 * (k * k - 1) / d;
  c[4] = (1 - std::sqrt(2.0) * k + k * k) / d;
}

// state: x1, x2, y1, y2
double biquad(const double* c, double* s, double x) {
  const double y = c[0] * x + c[1] * s[0] + c[2] * s[1] - c[3] * s[2] - c[4] * s[3];
  s[1] = s[0];
  s[0] = x;
  s[3] = s[2];
  s[2] = y;
  return y;
}

uint32_t xorshift(uint32_t& s) {
  s ^= s << 13;
  s ^= s >> 17;
  s ^= s << 5;
  return s;
}

}  // namespace

VirtualSoundSystem::VirtualSoundSystem()
    : reference_(kTickFrames),
      microphone_(kTickFrames),
      outScratch_(kTickFrames * 2),
      inScratch_(kTickFrames * 2),
      history_(kHistory, 0.0f) {
  butterworth(80.0, kRate, true, hpCoef_);
  butterworth(12000.0, kRate, false, lpCoef_);
}

VirtualSoundSystem::~VirtualSoundSystem() {
  running_.store(false);
  if (thread_.joinable()) thread_.join();
}

void VirtualSoundSystem::setSimulatedTime(bool simulated) {
  simulated_.store(simulated);
  if (simulated) {
    running_.store(false);
    if (thread_.joinable()) thread_.join();
  }
}

void VirtualSoundSystem::ensureThread() {
  if (simulated_.load() || running_.exchange(true)) return;
  if (thread_.joinable()) thread_.join();
  thread_ = std::thread([this] {
    nameThisThread("virtual-sound");
    // A wake-up costs more than the ticks it renders, so the thread renders several ticks
    // at each one: the same samples, in fewer and larger bursts.
    auto next = std::chrono::steady_clock::now();
    while (running_.load()) {
      next += std::chrono::milliseconds(10 * kTicksPerWake);
      std::this_thread::sleep_until(next);
      for (uint32_t i = 0; i < kTicksPerWake && running_.load(); ++i) {
        inTick_.store(true);
        tick(kTickFrames);
        inTick_.store(false);
      }
    }
  });
}

void VirtualSoundSystem::render(uint64_t frames) {
  inTick_.store(true);
  while (frames > 0) {
    uint32_t chunk = static_cast<uint32_t>(std::min<uint64_t>(frames, kTickFrames));
    // Split ticks at callback periods so that every block has exactly the period's size.
    for (auto& slot : inputs_) {
      Stream* s = slot.load();
      if (s != nullptr && s->started.load() && s->pumpFrames > 0) {
        chunk = std::min(chunk, s->pumpFrames - s->sincePump);
      }
    }
    tick(chunk);
    for (auto& slot : inputs_) {
      Stream* s = slot.load();
      if (s == nullptr || !s->started.load() || s->pumpFrames == 0) continue;
      s->sincePump += chunk;
      if (s->sincePump >= s->pumpFrames) {
        s->sincePump = 0;
        if (s->pump != nullptr) s->pump(s->user);
      }
    }
    frames -= chunk;
  }
  inTick_.store(false);
}

float VirtualSoundSystem::nextWhite() {
  return static_cast<float>(xorshift(whiteState_) >> 8) * (2.0f / 16777216.0f) - 1.0f;
}

float VirtualSoundSystem::builtInPink() {
  // Paul Kellet's refined pink filter over seeded white noise, about -20 dBFS RMS.
  const float w = nextWhite() * 0.05f;
  pink_[0] = 0.99886f * pink_[0] + w * 0.0555179f;
  pink_[1] = 0.99332f * pink_[1] + w * 0.0750759f;
  pink_[2] = 0.96900f * pink_[2] + w * 0.1538520f;
  pink_[3] = 0.86650f * pink_[3] + w * 0.3104856f;
  pink_[4] = 0.55000f * pink_[4] + w * 0.5329522f;
  pink_[5] = -0.7616f * pink_[5] - w * 0.0168980f;
  const float out =
      pink_[0] + pink_[1] + pink_[2] + pink_[3] + pink_[4] + pink_[5] + pink_[6] + w * 0.5362f;
  pink_[6] = w * 0.115926f;
  return out;
}

void VirtualSoundSystem::tick(uint32_t frames) {
  bool anyOutput = false;
  std::fill(reference_.begin(), reference_.begin() + frames, 0.0f);
  for (auto& slot : outputs_) {
    Stream* s = slot.load();
    if (s == nullptr || !s->started.load()) continue;
    anyOutput = true;
    s->outputFn(s->user, outScratch_.data(), frames);
    for (uint32_t i = 0; i < frames; ++i) {
      reference_[i] += outScratch_[static_cast<size_t>(i) * s->channels];
    }
  }
  if (!anyOutput) {
    for (uint32_t i = 0; i < frames; ++i) reference_[i] = builtInPink();
  }
  for (uint32_t i = 0; i < frames; ++i) {
    const double bp = biquad(lpCoef_, lp_, biquad(hpCoef_, hp_, reference_[i]));
    history_[historyPos_] = static_cast<float>(bp);
    const float direct = history_[(historyPos_ - kDirectDelay) & (kHistory - 1)];
    const float reflection = history_[(historyPos_ - kReflectionDelay) & (kHistory - 1)];
    historyPos_ = (historyPos_ + 1) & (kHistory - 1);
    const float noise =
        kNoiseAmplitude *
        (static_cast<float>(xorshift(noiseState_) >> 8) * (2.0f / 16777216.0f) - 1.0f);
    microphone_[i] = kDirectGain * direct + kReflectionGain * reflection + noise;
  }
  for (auto& slot : inputs_) {
    Stream* s = slot.load();
    if (s == nullptr || !s->started.load()) continue;
    for (uint32_t i = 0; i < frames; ++i) {
      inScratch_[static_cast<size_t>(i) * s->channels] = microphone_[i];
      if (s->channels > 1) inScratch_[static_cast<size_t>(i) * s->channels + 1] = reference_[i];
    }
    s->inputFn(s->user, inScratch_.data(), frames);
  }
  rendered_.fetch_add(frames);
}

void VirtualSoundSystem::appendDevices(std::vector<AudioDeviceInfo>& devices) {
  AudioDeviceInfo d;
  d.name = kDeviceName;
  d.hostApi = kHostApi;
  d.driver = std::string(kHostApi) + ":" + kDeviceName;
  d.inputChannels = 2;
  d.outputChannels = 2;
  d.defaultRate = kRate;
  d.backendIndex = 0;
  d.isVirtual = true;
  devices.push_back(std::move(d));
}

bool VirtualSoundSystem::supportsRate(const AudioDeviceInfo&, bool, int channels, double rate) {
  return rate == kRate && channels >= 1 && channels <= 2;
}

std::unique_ptr<BackendStream> VirtualSoundSystem::openInput(const AudioDeviceInfo&, int channels,
                                                             double rate, DriverInputFn fn,
                                                             DriverPumpFn pump, uint32_t pumpFrames,
                                                             void* user, const PortNames&,
                                                             int* error) {
  if (rate != kRate || channels < 1 || channels > 2) {
    *error = kAudioErrorFormat;
    return nullptr;
  }
  auto s = std::make_unique<Stream>();
  s->owner = this;
  s->input = true;
  s->channels = channels;
  s->inputFn = fn;
  s->pump = pump;
  s->pumpFrames = pumpFrames;
  s->user = user;
  for (auto& slot : inputs_) {
    Stream* expected = nullptr;
    if (slot.compare_exchange_strong(expected, s.get())) return s;
  }
  *error = kAudioErrorMemory;
  return nullptr;
}

std::unique_ptr<BackendStream> VirtualSoundSystem::openOutput(const AudioDeviceInfo&, int channels,
                                                              double rate, DriverOutputFn fn,
                                                              void* user, const PortNames&,
                                                              int* error) {
  if (rate != kRate || channels < 1 || channels > 2) {
    *error = kAudioErrorFormat;
    return nullptr;
  }
  auto s = std::make_unique<Stream>();
  s->owner = this;
  s->channels = channels;
  s->outputFn = fn;
  s->user = user;
  for (auto& slot : outputs_) {
    Stream* expected = nullptr;
    if (slot.compare_exchange_strong(expected, s.get())) return s;
  }
  *error = kAudioErrorMemory;
  return nullptr;
}

void VirtualSoundSystem::detach(Stream* stream) {
  for (auto* slots : {&inputs_, &outputs_}) {
    for (auto& slot : *slots) {
      Stream* expected = stream;
      slot.compare_exchange_strong(expected, nullptr);
    }
  }
  // A tick that picked the stream up before it left the slot may still be using it.
  while (inTick_.load()) std::this_thread::yield();
}

}  // namespace qv
