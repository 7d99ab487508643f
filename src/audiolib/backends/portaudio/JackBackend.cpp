#include "audiolib/backends/portaudio/JackBackend.h"

#include <jack/jack.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "audiolib/backends/portaudio/PortAudioBackend.h"
#include "platform/Log.h"

namespace qv {

struct JackBackend::Stream final : BackendStream {
  JackBackend* owner = nullptr;
  bool input = false;
  int channels = 0;
  DriverInputFn inputFn = nullptr;
  DriverOutputFn outputFn = nullptr;
  void* user = nullptr;
  std::vector<jack_port_t*> ports;
  std::vector<int> portNumbers;
  std::vector<float> scratch;  // interleaved, sized for the largest period
  std::atomic<bool> started{false};
  uint64_t xrunsAtOpen = 0;

  ~Stream() override { owner->close(this); }
  bool start() override {
    started.store(true);
    // Like any JACK application, start out connected to the system's ports.
    const auto physical = owner->physicalPorts(input);
    if (input) {
      for (size_t i = 0; i < ports.size() && i < physical.size(); ++i)
        jack_connect(owner->client_, physical[i].c_str(), jack_port_name(ports[i]));
    } else {
      // The one port plays on as many system outputs as the stream has channels.
      for (size_t i = 0; i < static_cast<size_t>(channels) && i < physical.size(); ++i)
        jack_connect(owner->client_, jack_port_name(ports[0]), physical[i].c_str());
    }
    return true;
  }
  bool isAlive() const override { return owner->alive_.load(); }
  uint64_t xruns() const override { return owner->xruns_.load() - xrunsAtOpen; }
  void setPortNames(const PortNames& names) override { owner->rename(this, names); }
};

namespace {

// The name a port has until it is given another: inputs numbered as the program numbers
// them ("in 1" is in_1).
std::string ownPortName(bool input, int number) {
  return (input ? "in_" : "out_") + std::to_string(number + 1);
}

}  // namespace

JackBackend::JackBackend(std::string clientName) : clientName_(std::move(clientName)) {
  // A busy server refuses a new client when one of its clients is slow to answer the notice
  // of it. A program started once (the command line) would then find no JACK device at all,
  // so a refusal from a running server is asked again, briefly. Later scans ask again anyway.
  for (int attempt = 0; attempt < 5 && !refresh() && PortAudioBackend::jackServerRunning();
       ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

JackBackend::~JackBackend() {
  if (client_ != nullptr) {
    if (alive_.load()) jack_deactivate(client_);
    jack_client_close(client_);
  }
}

void JackBackend::releaseDeadClient() {
  if (client_ != nullptr && !alive_.load() && openStreams_ == 0) {
    jack_client_close(client_);
    client_ = nullptr;
  }
}

bool JackBackend::holdsDeadClient() const {
  return client_ != nullptr && (!alive_.load() || !PortAudioBackend::jackServerRunning());
}

bool JackBackend::refresh() {
  releaseDeadClient();
  if (client_ == nullptr && PortAudioBackend::jackServerRunning()) {
    jack_status_t status{};
    client_ = jack_client_open(clientName_.c_str(), JackNoStartServer, &status);
    if (client_ == nullptr) return false;
    jack_set_process_callback(client_, &JackBackend::process, this);
    jack_on_shutdown(client_, &JackBackend::shutdown, this);
    jack_set_xrun_callback(client_, &JackBackend::xrun, this);
    alive_.store(true);
    if (jack_activate(client_) != 0) {
      qv::log("JACK: cannot activate client %s", clientName_.c_str());
      jack_client_close(client_);
      client_ = nullptr;
      alive_.store(false);
    }
  }
  return alive();
}

void JackBackend::shutdown(void* self) { static_cast<JackBackend*>(self)->alive_.store(false); }

int JackBackend::xrun(void* self) {
  static_cast<JackBackend*>(self)->xruns_.fetch_add(1, std::memory_order_relaxed);
  return 0;
}

int JackBackend::process(uint32_t frames, void* self) {
  auto* b = static_cast<JackBackend*>(self);
  b->inProcess_.store(true);
  for (auto& slot : b->slots_) {
    Stream* s = slot.load();
    if (s == nullptr || !s->started.load(std::memory_order_relaxed)) continue;
    const auto ch = static_cast<size_t>(s->channels);
    const size_t portCount = s->ports.size();
    if (static_cast<size_t>(frames) * ch > s->scratch.size()) {
      // A period larger than we prepared for: silence rather than whatever the port
      // buffers held.
      if (!s->input) {
        for (size_t c = 0; c < portCount; ++c)
          std::memset(jack_port_get_buffer(s->ports[c], frames), 0, frames * sizeof(float));
      }
      continue;
    }
    if (s->input) {
      for (size_t c = 0; c < ch; ++c) {
        const auto* in = static_cast<const float*>(jack_port_get_buffer(s->ports[c], frames));
        for (uint32_t i = 0; i < frames; ++i) s->scratch[i * ch + c] = in[i];
      }
      s->inputFn(s->user, s->scratch.data(), frames);
    } else {
      s->outputFn(s->user, s->scratch.data(), frames);
      for (size_t c = 0; c < portCount; ++c) {
        auto* out = static_cast<float*>(jack_port_get_buffer(s->ports[c], frames));
        for (uint32_t i = 0; i < frames; ++i) out[i] = s->scratch[i * ch + c];
      }
    }
  }
  b->inProcess_.store(false);
  return 0;
}

std::vector<std::string> JackBackend::physicalPorts(bool capture) const {
  std::vector<std::string> names;
  if (!alive()) return names;
  // The system's capture ports are outputs of the graph, its playback ports inputs.
  const char** ports =
      jack_get_ports(client_, nullptr, JACK_DEFAULT_AUDIO_TYPE,
                     JackPortIsPhysical | (capture ? JackPortIsOutput : JackPortIsInput));
  if (ports == nullptr) return names;
  for (const char** p = ports; *p != nullptr; ++p) names.emplace_back(*p);
  jack_free(ports);
  return names;
}

void JackBackend::appendDevices(std::vector<AudioDeviceInfo>& devices) {
  if (!alive()) return;
  AudioDeviceInfo d;
  d.name = kDisplayName;
  d.hostApi = kHostApi;
  d.driver = std::string(kHostApi) + ":" + kDeviceName;
  d.inputChannels = static_cast<int>(physicalPorts(true).size());
  d.outputChannels = static_cast<int>(physicalPorts(false).size());
  d.defaultRate = jack_get_sample_rate(client_);
  d.backendIndex = 0;
  devices.push_back(std::move(d));
}

bool JackBackend::supportsRate(const AudioDeviceInfo&, bool, int, double rate) {
  return alive() && rate == static_cast<double>(jack_get_sample_rate(client_));
}

std::unique_ptr<BackendStream> JackBackend::openInput(const AudioDeviceInfo&, int channels,
                                                      double rate, DriverInputFn fn, DriverPumpFn,
                                                      uint32_t, void* user, const PortNames& names,
                                                      int* error) {
  return open(true, channels, rate, reinterpret_cast<void*>(fn), user, names, error);
}

std::unique_ptr<BackendStream> JackBackend::openOutput(const AudioDeviceInfo&, int channels,
                                                       double rate, DriverOutputFn fn, void* user,
                                                       const PortNames& names, int* error) {
  return open(false, channels, rate, reinterpret_cast<void*>(fn), user, names, error);
}

std::unique_ptr<BackendStream> JackBackend::open(bool input, int channels, double rate, void* fn,
                                                 void* user, const PortNames& names, int* error) {
  if (!alive()) {
    *error = kAudioErrorDevice;
    return nullptr;
  }
  if (rate != static_cast<double>(jack_get_sample_rate(client_)) || channels <= 0) {
    *error = kAudioErrorFormat;
    return nullptr;
  }
  auto s = std::make_unique<Stream>();
  s->owner = this;
  s->input = input;
  s->channels = channels;
  s->user = user;
  s->xrunsAtOpen = xruns_.load();
  if (input) {
    s->inputFn = reinterpret_cast<DriverInputFn>(fn);
  } else {
    s->outputFn = reinterpret_cast<DriverOutputFn>(fn);
  }
  // JACK may change its period later; 8192 frames covers every period it offers here.
  s->scratch.assign(
      static_cast<size_t>(std::max<uint32_t>(8192, jack_get_buffer_size(client_))) * channels,
      0.0f);
  ++openStreams_;  // from here on close() undoes what was done
  auto& used = input ? inPortsUsed_ : outPortsUsed_;
  const int portCount = input ? channels : 1;
  std::vector<std::string> chosen;
  for (int c = 0; c < portCount; ++c) {
    size_t n = 0;
    while (n < used.size() && used[n]) ++n;
    if (n == used.size()) used.push_back(false);
    // Named when registered: a later rename is not seen by every server's other clients
    // (PipeWire's JACK keeps it to the client that made it).
    const size_t index = static_cast<size_t>(c);
    const std::string name = index < names.size() && !names[index].empty()
                                 ? freeName(names[index], s.get(), chosen)
                                 : ownPortName(input, static_cast<int>(n));
    chosen.push_back(name);
    jack_port_t* port = jack_port_register(client_, name.c_str(), JACK_DEFAULT_AUDIO_TYPE,
                                           input ? JackPortIsInput : JackPortIsOutput, 0);
    if (port == nullptr) {
      *error = kAudioErrorDriver;
      return nullptr;
    }
    used[n] = true;
    s->ports.push_back(port);
    s->portNumbers.push_back(static_cast<int>(n));
  }
  for (auto& slot : slots_) {
    Stream* expected = nullptr;
    if (slot.compare_exchange_strong(expected, s.get())) return s;
  }
  *error = kAudioErrorMemory;
  return nullptr;
}

void JackBackend::close(Stream* stream) {
  for (auto& slot : slots_) {
    Stream* expected = stream;
    slot.compare_exchange_strong(expected, nullptr);
  }
  // A process cycle that picked the stream up may still be running, even just after the
  // server announced its shutdown; cycles never block, so this wait is short.
  while (inProcess_.load()) std::this_thread::yield();
  auto& used = stream->input ? inPortsUsed_ : outPortsUsed_;
  for (size_t i = 0; i < stream->ports.size(); ++i) {
    if (alive_.load()) jack_port_unregister(client_, stream->ports[i]);
    used[static_cast<size_t>(stream->portNumbers[i])] = false;
  }
  --openStreams_;
  releaseDeadClient();
}

std::string JackBackend::freeName(const std::string& base, const Stream* stream,
                                  const std::vector<std::string>& chosen) const {
  const std::string client = jack_get_client_name(client_);
  const auto taken = [&](const std::string& name) {
    if (std::find(chosen.begin(), chosen.end(), name) != chosen.end()) return true;
    jack_port_t* port = jack_port_by_name(client_, (client + ":" + name).c_str());
    return port != nullptr &&
           std::find(stream->ports.begin(), stream->ports.end(), port) == stream->ports.end();
  };
  // A second capture of ours would also want to be the measurement.
  std::string name = base;
  for (int k = 2; taken(name); ++k) name = base + "_" + std::to_string(k);
  return name;
}

void JackBackend::rename(Stream* stream, const PortNames& names) {
  if (!alive()) return;
  const size_t count = stream->ports.size();
  std::vector<std::string> wanted;
  for (size_t i = 0; i < count; ++i) {
    const std::string base = i < names.size() && !names[i].empty()
                                 ? names[i]
                                 : ownPortName(stream->input, stream->portNumbers[i]);
    wanted.push_back(freeName(base, stream, wanted));
  }
  std::vector<size_t> changing;
  for (size_t i = 0; i < count; ++i) {
    if (wanted[i] != jack_port_short_name(stream->ports[i])) changing.push_back(i);
  }
  // Ports that trade names pass through names of their own first: no two ports of a
  // client may share one, not even for a moment.
  if (changing.size() > 1) {
    for (size_t i : changing) {
      const std::string passing = "renaming_" + ownPortName(stream->input, stream->portNumbers[i]);
      jack_port_rename(client_, stream->ports[i], passing.c_str());
    }
  }
  for (size_t i : changing) {
    if (jack_port_rename(client_, stream->ports[i], wanted[i].c_str()) != 0)
      qv::log("JACK: could not rename the port %s to %s", jack_port_name(stream->ports[i]),
              wanted[i].c_str());
  }
}

}  // namespace qv
