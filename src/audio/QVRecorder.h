#pragma once
// Captures all channels of one input device, maps two of them into an interleaved
// two-channel block and hands it to every registered consumer.
// Thread contract: control calls on the main thread; deliveries, consumer and map
// changes run on the serial "record.queue"; the capture thread waits for each delivery.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/QVAudioDataProvider.h"
#include "audio/QVAudioDataTransport.h"
#include "audio/QVRecorderDelegate.h"
#include "audiolib/AudioLibrary.h"
#include "platform/DispatchQueue.h"

namespace qv {

class QVRecorder final : public QVAudioDataProvider,
                         public QVAudioDataTransport,
                         public std::enable_shared_from_this<QVRecorder> {
 public:
  using ConsumerList = std::vector<std::shared_ptr<QVRecorderConsumer>>;

  // Nothing when the audio library has the wrong version. `channelCount` is not used:
  // every channel of the device is recorded. `samplingRate` 0 takes the device's rate.
  static std::shared_ptr<QVRecorder> initWithDeviceUUID(
      const std::string& uid, uint32_t channelCount, uint32_t samplingRate, bool isDecoding,
      std::weak_ptr<QVRecorderDelegate> delegate, AudioLibrary& library = AudioLibrary::shared());
  ~QVRecorder() override;
  QVRecorder(const QVRecorder&) = delete;
  QVRecorder& operator=(const QVRecorder&) = delete;

  uint32_t startRecChannel();
  // Consumers receive only frames captured after this call.
  void resumeRec();
  // Once this returns no consumer receives a block until resumeRec (a delivery in
  // progress is waited for); not to be called from inside a delivery.
  void pauseRec();
  void stopRec();
  void setDeviceHandle(uint32_t handle);
  // Output channel 0 (the measurement) from device input map[0], 1 (the reference) from
  // map[1]. The capture's ports, where a device names them (JACK), follow the roles.
  void setChannelMap(const std::vector<int32_t>& map);
  std::vector<int32_t> channelMap();
  static constexpr const char* kMeasurementPortName = "measurement";
  static constexpr const char* kReferencePortName = "reference";

  void addConsumer(std::shared_ptr<QVRecorderConsumer> consumer) override;
  void removeConsumer(const std::shared_ptr<QVRecorderConsumer>& consumer) override;
  void performSafeBlock(const std::function<void()>& block) override;

  uint32_t inputChannel() const { return _inputChannel; }
  // The audio library's code of the last start that failed (kAudioOk after a success).
  int lastError() const { return lastError_; }
  // What its captures lost so far, the running one's included.
  ChannelLosses losses() const;
  uint32_t samplingRate() const { return _samplingRate; }
  uint32_t deviceHandle() const { return _deviceHandle; }
  uint32_t inputChannelCount() const { return _inputChannelCount; }
  uint32_t outputChannelCount() const {
    return _outputChannelCount.load(std::memory_order_relaxed);
  }

 private:
  QVRecorder(uint32_t samplingRate, bool isDecoding, std::weak_ptr<QVRecorderDelegate> delegate,
             AudioLibrary& library);
  bool captureCallback(const void* data, uint32_t bytes);
  void deliver(const void* data, uint32_t bytes);  // record queue
  void announceFormatLocked(const std::shared_ptr<QVRecorderConsumer>& consumer);
  void captureEnded(uint32_t handle);
  PortNames portNames() const;  // control thread

  AudioLibrary& library_;
  bool _isDecoding;
  int32_t _callbackPeriod = 125;
  std::vector<int32_t> _outputChannelMap;         // record queue only
  std::vector<int32_t> controlChannelMap_{0, 1};  // the same, for the control thread
  uint32_t _inputChannel = 0;
  std::shared_ptr<const ConsumerList> _consumers;  // record queue only; swapped, never edited
  std::shared_ptr<dispatch::Queue> _recordQueue;
  std::vector<float> _recordBuffer;
  uint32_t _recordBufferSize = 122880;
  uint32_t _deviceHandle = kDefaultDevice;
  uint32_t _inputChannelCount = 0;
  std::atomic<uint32_t> _outputChannelCount{2};  // written on the record queue
  uint32_t _samplingRate;
  std::weak_ptr<QVRecorderDelegate> _delegate;
  // Channel count of the running capture, read by the capture thread.
  uint32_t captureChannels_ = 0;
  int lastError_ = kAudioOk;
  ChannelLosses endedLosses_;  // of captures already freed
  void keepLosses();           // adds the running capture's to endedLosses_
};

}  // namespace qv
