#pragma once
// The JACK server's system ports as one device, through libjack directly. It stands in
// for PortAudio's JACK host API, which aborts the process when terminated after its
// server stopped and waits forever when a stream is closed after that. Capture ports are
// in_1, in_2, … (the inputs as the program numbers them) until they are named after their
// roles; an output stream, mono by contract (OutputStream), is one port, out_1, out_2, …,
// connected to as many system playback ports as it has channels.
// Thread contract: refresh/list/open/close under the library's lock; JACK's process
// thread only walks the stream slots (no locks, no allocation); its shutdown and xrun
// callbacks only set a flag or count.
#include <array>
#include <atomic>
#include <string>
#include <vector>

#include "audiolib/AudioBackend.h"

typedef struct _jack_client jack_client_t;

namespace qv {

class JackBackend final : public AudioBackend {
 public:
  static constexpr const char* kHostApi = "JACK Audio Connection Kit";
  // The device's part of its UID, which the settings keep.
  static constexpr const char* kDeviceName = "system";
  // The name the user sees.
  static constexpr const char* kDisplayName = "JACK";

  explicit JackBackend(std::string clientName);
  ~JackBackend() override;

  // Connects to a server that answers, or lets go of one that stopped (once its streams
  // are closed). Returns whether the client is up.
  bool refresh();
  bool alive() const { return client_ != nullptr && alive_.load(); }
  // A client whose server stopped (or is stopping), kept until its last stream is closed.
  // Meanwhile no other JACK client may be opened in this process (PortAudio's probe opens
  // one): libjack then frees what the dead client still holds, and closing it crashes.
  bool holdsDeadClient() const;

  void appendDevices(std::vector<AudioDeviceInfo>& devices) override;
  bool supportsRate(const AudioDeviceInfo& device, bool input, int channels, double rate) override;
  std::unique_ptr<BackendStream> openInput(const AudioDeviceInfo& device, int channels, double rate,
                                           DriverInputFn fn, DriverPumpFn pump, uint32_t pumpFrames,
                                           void* user, const PortNames& names, int* error) override;
  std::unique_ptr<BackendStream> openOutput(const AudioDeviceInfo& device, int channels,
                                            double rate, DriverOutputFn fn, void* user,
                                            const PortNames& names, int* error) override;

  struct Stream;
  void close(Stream* stream);
  void rename(Stream* stream, const PortNames& names);

 private:
  void releaseDeadClient();  // closes a dead client that no stream uses
  static int process(uint32_t frames, void* self);
  static void shutdown(void* self);
  static int xrun(void* self);
  std::unique_ptr<BackendStream> open(bool input, int channels, double rate, void* fn, void* user,
                                      const PortNames& names, int* error);
  std::vector<std::string> physicalPorts(bool capture) const;
  // `base`, or base_2, base_3, … when a port of another stream of ours or one of `chosen`
  // already has that name.
  std::string freeName(const std::string& base, const Stream* stream,
                       const std::vector<std::string>& chosen) const;

  std::string clientName_;
  jack_client_t* client_ = nullptr;
  std::atomic<bool> alive_{false};
  std::atomic<bool> inProcess_{false};
  // Xruns the server reported to our clients, over their lives; a stream counts from its
  // opening.
  std::atomic<uint64_t> xruns_{0};
  int openStreams_ = 0;
  static constexpr int kSlots = 8;
  std::array<std::atomic<Stream*>, kSlots> slots_{};
  std::vector<bool> inPortsUsed_, outPortsUsed_;
};

}  // namespace qv
