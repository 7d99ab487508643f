#pragma once
// A source of devices and device streams (PortAudio, the virtual sound system).
// Thread contract: list/open are called by the library under its lock; the stream
// functions given to open* run on the backend's driver thread and must never lock,
// allocate or log.
#include <memory>
#include <string>
#include <vector>

#include "audiolib/AudioTypes.h"

namespace qv {

// Driver-thread hooks: `input` receives interleaved frames of all opened channels,
// `output` fills interleaved frames.
using DriverInputFn = void (*)(void* user, const float* frames, uint32_t frameCount);
using DriverOutputFn = void (*)(void* user, float* frames, uint32_t frameCount);
// Called every callback period by a backend that runs in simulated time, on the thread
// that advances the simulation, in place of the library's delivery thread.
using DriverPumpFn = void (*)(void* user);
// Names of a stream's ports where other programs see them (JACK): one per input channel, or
// one for an output stream; an empty or missing name leaves the backend's own.
using PortNames = std::vector<std::string>;

class BackendStream {
 public:
  virtual ~BackendStream() = default;
  virtual bool start() = 0;
  // False once the device has gone away (server stopped, unplugged).
  virtual bool isAlive() const = 0;
  // True when the backend itself calls the pump every period (simulated time).
  virtual bool drivesDelivery() const { return false; }
  // Gives the stream up without touching the device again; used after the device
  // vanished, when closing it could wait forever.
  virtual void abandon() {}
  // Dropouts the device reported since the stream was opened (JACK's xruns, PortAudio's
  // overflow and underflow flags). Called under the library's lock.
  virtual uint64_t xruns() const { return 0; }
  // Renames the stream's ports (see PortNames); an empty or missing name gives the port its
  // own back. Control thread.
  virtual void setPortNames(const PortNames& /*names*/) {}
};

class AudioBackend {
 public:
  virtual ~AudioBackend() = default;
  virtual void appendDevices(std::vector<AudioDeviceInfo>& devices) = 0;
  virtual bool supportsRate(const AudioDeviceInfo& device, bool input, int channels,
                            double rate) = 0;
  virtual std::unique_ptr<BackendStream> openInput(const AudioDeviceInfo& device, int channels,
                                                   double rate, DriverInputFn fn, DriverPumpFn pump,
                                                   uint32_t pumpFrames, void* user,
                                                   const PortNames& names, int* error) = 0;
  virtual std::unique_ptr<BackendStream> openOutput(const AudioDeviceInfo& device, int channels,
                                                    double rate, DriverOutputFn fn, void* user,
                                                    const PortNames& names, int* error) = 0;
};

}  // namespace qv
