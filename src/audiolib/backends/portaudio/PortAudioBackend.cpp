#include "audiolib/backends/portaudio/PortAudioBackend.h"

#include <alsa/asoundlib.h>
#include <dirent.h>
#include <jack/jack.h>
#include <pa_jack.h>
#include <portaudio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <vector>

#include "platform/Log.h"

namespace qv {
namespace {

// PortAudio keeps one state per process and guards none of it; each library (tests make
// several) has a backend of its own, whose rescans run on its own thread. One library
// terminating PortAudio while another read its device list crashed the reader.
// Taken last: under it only the log's lock is taken, and no driver callback takes it.
std::mutex& paMutex() {
  static std::mutex mutex;
  return mutex;
}

class PaBackendStream final : public BackendStream {
 public:
  PaBackendStream(PortAudioBackend* owner, PaStream* stream) : owner_(owner), stream_(stream) {}
  ~PaBackendStream() override {
    if (stream_ != nullptr && !abandoned_) {
      std::lock_guard<std::mutex> lock(paMutex());
      Pa_CloseStream(stream_);
      owner_->streamClosed();
    }
  }
  bool start() override {
    std::lock_guard<std::mutex> lock(paMutex());
    PaError err = Pa_StartStream(stream_);
    if (err != paNoError) return false;
    started_ = true;
    return true;
  }
  bool isAlive() const override { return !started_ || Pa_IsStreamActive(stream_) == 1; }
  uint64_t xruns() const override { return target_ ? target_->xruns.load() : 0; }
  void abandon() override {
    // Closing a stream whose device died can wait forever for a callback that never
    // comes, so the stream stays open. Its callback may still fire once the device
    // returns: it then finds no functions to call, in a target that is never freed.
    abandoned_ = true;
    target_->inputFn.store(nullptr);
    target_->outputFn.store(nullptr);
    (void)target_.release();
    owner_->streamAbandoned();
  }

  // What the driver's callback calls; outlives the stream when the stream is abandoned.
  struct Target {
    std::atomic<DriverInputFn> inputFn{nullptr};
    std::atomic<DriverOutputFn> outputFn{nullptr};
    void* user = nullptr;
    unsigned long channels = 1;
    std::atomic<uint64_t> xruns{0};  // callbacks that reported an overflow or underflow
  };
  Target* target() { return target_.get(); }

  static int callback(const void* input, void* output, unsigned long frames,
                      const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags flags, void* self) {
    auto* t = static_cast<Target*>(self);
    if ((flags & (paInputOverflow | paInputUnderflow | paOutputUnderflow | paOutputOverflow)) != 0)
      t->xruns.fetch_add(1, std::memory_order_relaxed);
    const DriverInputFn in = t->inputFn.load(std::memory_order_acquire);
    const DriverOutputFn out = t->outputFn.load(std::memory_order_acquire);
    if (in != nullptr && input != nullptr) {
      in(t->user, static_cast<const float*>(input), static_cast<uint32_t>(frames));
    }
    if (out != nullptr && output != nullptr) {
      out(t->user, static_cast<float*>(output), static_cast<uint32_t>(frames));
    } else if (output != nullptr) {
      std::memset(output, 0, frames * t->channels * sizeof(float));
    }
    return paContinue;
  }

  PaStream** streamSlot() { return &stream_; }

 private:
  PortAudioBackend* owner_;
  PaStream* stream_;
  bool started_ = false;
  bool abandoned_ = false;
  std::unique_ptr<Target> target_ = std::make_unique<Target>();
};

int mapPaError(PaError err) {
  switch (err) {
    case paInvalidSampleRate:
    case paInvalidChannelCount:
    case paSampleFormatNotSupported:
      return kAudioErrorFormat;
    case paInsufficientMemory:
      return kAudioErrorMemory;
    case paInvalidDevice:
    case paDeviceUnavailable:
      return kAudioErrorDevice;
    default:
      return kAudioErrorDriver;
  }
}

std::unique_ptr<BackendStream> openStream(PortAudioBackend* owner, std::atomic<int>& count,
                                          const AudioDeviceInfo& device, bool input, int channels,
                                          double rate, void* fn, void* user, int* error) {
  std::lock_guard<std::mutex> lock(paMutex());
  PaStreamParameters params{};
  params.device = device.backendIndex;
  params.channelCount = channels;
  params.sampleFormat = paFloat32;
  const PaDeviceInfo* info = Pa_GetDeviceInfo(device.backendIndex);
  if (info == nullptr) {
    *error = kAudioErrorDevice;
    return nullptr;
  }
  params.suggestedLatency = input ? info->defaultLowInputLatency : info->defaultLowOutputLatency;
  auto stream = std::make_unique<PaBackendStream>(owner, nullptr);
  if (input) {
    stream->target()->inputFn.store(reinterpret_cast<DriverInputFn>(fn));
  } else {
    stream->target()->outputFn.store(reinterpret_cast<DriverOutputFn>(fn));
  }
  stream->target()->user = user;
  stream->target()->channels = static_cast<unsigned long>(channels);
  PaError err = Pa_OpenStream(stream->streamSlot(), input ? &params : nullptr,
                              input ? nullptr : &params, rate, paFramesPerBufferUnspecified,
                              paNoFlag, &PaBackendStream::callback, stream->target());
  if (err != paNoError) {
    qv::log("PortAudio: cannot open %s: %s", device.driver.c_str(), Pa_GetErrorText(err));
    *stream->streamSlot() = nullptr;
    *error = mapPaError(err);
    return nullptr;
  }
  count.fetch_add(1);
  return stream;
}

}  // namespace

namespace {
// PortAudio's JACK host API cannot survive its server stopping (it aborts in Pa_Terminate
// and hangs closing streams), so JACK is reached through JackBackend instead. PortAudio is
// kept from connecting by a client name exactly jack_client_name_size() long: PortAudio
// accepts it, libjack refuses it (the size counts the terminating zero), and PortAudio
// then leaves its JACK host API out. Nothing in the environment changes, so no other
// thread's getenv can race a rescan.
const char* unusableJackClientName() {
  static const std::string name(static_cast<size_t>(jack_client_name_size()), 'q');
  return name.c_str();
}

// With no sound card ALSA prints dozens of lines while PortAudio probes its devices, and
// libjack prints the refused client name; neither tells a user anything that the device
// list does not. Set while a probe runs; JACK messages outside it are logged.
std::atomic<int> gProbing{0};

void quietAlsa(const char*, int, const char*, int, const char*, ...) {}
void quietJack(const char*) {}
// libjack may report from its process thread, so this formats on the stack and writes
// straight to stderr instead of going through the log's lock.
void logJack(const char* message) {
  if (gProbing.load() != 0) return;
  char line[512];
  const int n = std::snprintf(line, sizeof line, "JACK: %s\n", message);
  if (n > 0)
    (void)!::write(STDERR_FILENO, line, std::min<size_t>(static_cast<size_t>(n), sizeof line - 1));
}

PaError initializeWithoutJack() {
  static std::once_flag handlers;
  std::call_once(handlers, [] {
    snd_lib_error_set_handler(&quietAlsa);
    jack_set_info_function(&quietJack);
  });
  gProbing.fetch_add(1);
  jack_set_error_function(&logJack);
  if (PaJack_SetClientName(unusableJackClientName()) != paNoError) {
    qv::log("PortAudio: its JACK host API cannot be kept out; a JACK server stopping may abort");
  }
  const PaError err = Pa_Initialize();
  // PortAudio installs an error handler of its own while it probes JACK.
  jack_set_error_function(&logJack);
  gProbing.fetch_sub(1);
  return err;
}
}  // namespace

PortAudioBackend::PortAudioBackend() {
  std::lock_guard<std::mutex> lock(paMutex());
  PaError err = initializeWithoutJack();
  initialized_ = err == paNoError;
  if (!initialized_) qv::log("PortAudio: Pa_Initialize failed: %s", Pa_GetErrorText(err));
}

PortAudioBackend::~PortAudioBackend() {
  std::lock_guard<std::mutex> lock(paMutex());
  if (initialized_ && !poisoned_.load()) Pa_Terminate();
}

bool PortAudioBackend::reinitialize() {
  if (openStreams_.load() != 0 || poisoned_.load()) return false;
  std::lock_guard<std::mutex> lock(paMutex());
  if (initialized_) Pa_Terminate();
  initialized_ = initializeWithoutJack() == paNoError;
  return initialized_;
}

void PortAudioBackend::appendDevices(std::vector<AudioDeviceInfo>& devices) {
  if (!initialized_) return;
  std::lock_guard<std::mutex> lock(paMutex());
  const int count = Pa_GetDeviceCount();
  const PaDeviceIndex defIn = Pa_GetDefaultInputDevice();
  const PaDeviceIndex defOut = Pa_GetDefaultOutputDevice();
  for (int i = 0; i < count; ++i) {
    const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
    if (info == nullptr) continue;
    const PaHostApiInfo* api = Pa_GetHostApiInfo(info->hostApi);
    AudioDeviceInfo d;
    d.name = info->name != nullptr ? info->name : "";
    d.hostApi = api != nullptr && api->name != nullptr ? api->name : "PortAudio";
    d.driver = d.hostApi + ":" + d.name;
    d.inputChannels = info->maxInputChannels;
    d.outputChannels = info->maxOutputChannels;
    d.defaultRate = info->defaultSampleRate;
    d.isDefaultInput = i == defIn;
    d.isDefaultOutput = i == defOut;
    d.backendIndex = i;
    devices.push_back(std::move(d));
  }
}

bool PortAudioBackend::supportsRate(const AudioDeviceInfo& device, bool input, int channels,
                                    double rate) {
  std::lock_guard<std::mutex> lock(paMutex());
  PaStreamParameters params{};
  params.device = device.backendIndex;
  params.channelCount = channels;
  params.sampleFormat = paFloat32;
  params.suggestedLatency = 0.05;
  return Pa_IsFormatSupported(input ? &params : nullptr, input ? nullptr : &params, rate) ==
         paFormatIsSupported;
}

std::unique_ptr<BackendStream> PortAudioBackend::openInput(const AudioDeviceInfo& device,
                                                           int channels, double rate,
                                                           DriverInputFn fn, DriverPumpFn, uint32_t,
                                                           void* user, const PortNames&,
                                                           int* error) {
  return openStream(this, openStreams_, device, true, channels, rate, reinterpret_cast<void*>(fn),
                    user, error);
}

std::unique_ptr<BackendStream> PortAudioBackend::openOutput(const AudioDeviceInfo& device,
                                                            int channels, double rate,
                                                            DriverOutputFn fn, void* user,
                                                            const PortNames&, int* error) {
  return openStream(this, openStreams_, device, false, channels, rate, reinterpret_cast<void*>(fn),
                    user, error);
}

namespace {

// A live server has its socket listening (flag __SO_ACCEPTCON, 00010000) in the kernel's
// table; a socket file left by a killed server has none. Reading the table instead of
// connecting keeps the server's log free of our polls.
bool socketListening(const std::string& path) {
  std::ifstream table("/proc/net/unix");
  std::string line;
  while (std::getline(table, line)) {
    if (line.size() < path.size() ||
        line.compare(line.size() - path.size(), path.size(), path) != 0) {
      continue;
    }
    std::istringstream fields(line);
    std::string num, refs, protocol, flags;
    fields >> num >> refs >> protocol >> flags;
    if (flags == "00010000") return true;
  }
  return false;
}

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// PipeWire's libjack (what pw-jack or the system's library configuration loads) talks to
// the PipeWire daemon on its own socket, where a JACK server's socket never appears.
bool pipeWireJack() {
  static const bool pipeWire = [] {
    const char* version = jack_get_version_string();
    return version != nullptr && std::strstr(version, "PipeWire") != nullptr;
  }();
  return pipeWire;
}

std::string pipeWireSocket() {
  std::string name = environment("PIPEWIRE_REMOTE");
  if (name.empty()) name = "pipewire-0";
  if (name[0] == '/') return name;
  std::string dir = environment("PIPEWIRE_RUNTIME_DIR");
  if (dir.empty()) dir = environment("XDG_RUNTIME_DIR");
  if (dir.empty()) return "";
  return dir + "/" + name;
}

}  // namespace

bool PortAudioBackend::jackServerRunning() {
  if (pipeWireJack()) {
    const std::string path = pipeWireSocket();
    return !path.empty() && socketListening(path);
  }
  std::string server = environment("JACK_DEFAULT_SERVER");
  if (server.empty()) server = "default";
  return socketListening("/dev/shm/jack_" + server + "_" + std::to_string(getuid()) + "_0");
}

std::string PortAudioBackend::deviceSignature() {
  std::vector<std::string> names;
  if (DIR* dir = opendir("/dev/snd")) {
    while (dirent* e = readdir(dir)) names.emplace_back(e->d_name);
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  std::string sig = jackServerRunning() ? "jack;" : "nojack;";
  for (const auto& n : names) sig += n + ",";
  return sig;
}

}  // namespace qv
