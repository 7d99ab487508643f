#include "audio/QVRecorder.h"

#include <algorithm>

#include "audio/QXBassHelper.h"
#include "audiolib/AudioErrorText.h"
#include "platform/Assert.h"
#include "platform/Log.h"
#include "platform/MainQueue.h"

namespace qv {

QVRecorder::QVRecorder(uint32_t samplingRate, bool isDecoding,
                       std::weak_ptr<QVRecorderDelegate> delegate, AudioLibrary& library)
    : library_(library),
      _isDecoding(isDecoding),
      _consumers(std::make_shared<ConsumerList>()),
      _recordQueue(dispatch::makeSerialQueue("record.queue")),
      _recordBuffer(122880 / sizeof(float), 0.0f),
      _samplingRate(samplingRate),
      _delegate(std::move(delegate)) {}

std::shared_ptr<QVRecorder> QVRecorder::initWithDeviceUUID(
    const std::string& uid, uint32_t, uint32_t samplingRate, bool isDecoding,
    std::weak_ptr<QVRecorderDelegate> delegate, AudioLibrary& library) {
  std::shared_ptr<QVRecorder> recorder(
      new QVRecorder(samplingRate, isDecoding, std::move(delegate), library));
  library.setConfig(51, 1);
  if ((library.version() >> 16) != 0x0204) {
    qv::log("An incorrect version of BASS was loaded!");
    return nullptr;
  }
  QXBassHelper helper(library);
  const uint32_t handle = helper.recordingDeviceHandleForUUID(uid);
  recorder->_inputChannelCount = helper.recordingDeviceChannelCount(handle);
  recorder->setDeviceHandle(handle);
  RecordInfo info;
  if (library.recordGetInfo(&info) && recorder->_samplingRate == 0)
    recorder->_samplingRate = info.freq;
  recorder->setChannelMap({0, 1});
  return recorder;
}

QVRecorder::~QVRecorder() {
  stopRec();
  library_.recordSetDevice(_deviceHandle);
  library_.recordFree();
}

void QVRecorder::setDeviceHandle(uint32_t handle) {
  stopRec();
  _deviceHandle = handle;
  // The device helper has usually opened it already; that counts as success.
  if (!library_.recordInit(handle) && AudioLibrary::errorCode() != kAudioErrorAlready) {
    qv::log("Can't initialize record device: %s (error %d)",
            audioErrorText(AudioLibrary::errorCode()).c_str(), AudioLibrary::errorCode());
  }
  if (!library_.recordSetDevice(handle)) {
    qv::log("Can't set record device: %s (error %d)",
            audioErrorText(AudioLibrary::errorCode()).c_str(), AudioLibrary::errorCode());
  }
}

uint32_t QVRecorder::startRecChannel() {
  if (_inputChannel != 0) return _inputChannel;
  if (_inputChannelCount == 0) {
    // Blocks are cut into frames of the device's channel count; none means no frames.
    qv::log("Recorder: the device reports no input channels, not recording");
    // A device that is not there (any more) reports none either.
    AudioDeviceInfo device;
    lastError_ = library_.recordGetDeviceInfo(_deviceHandle, &device) && device.enabled
                     ? kAudioErrorNoChannels
                     : kAudioErrorDevice;
    return 0;
  }
  uint32_t rate = _samplingRate;
  if (rate == 0) {
    RecordInfo info;
    if (library_.recordGetInfo(&info)) rate = info.freq;
  }
  QV_ASSERT(rate != 0);
  rate = std::max<uint32_t>(rate, 44100);
  CaptureCallback callback;
  if (!_isDecoding) {
    callback = [this](uint32_t, const void* data, uint32_t bytes) {
      return captureCallback(data, bytes);
    };
  }
  captureChannels_ = _inputChannelCount;
  const uint32_t handle = library_.recordStart(
      rate, _inputChannelCount, true, _isDecoding ? 0 : static_cast<uint32_t>(_callbackPeriod),
      std::move(callback), portNames());
  if (handle == 0) {
    lastError_ = AudioLibrary::errorCode();
    qv::log("Recorder: Can't start recording: %s (error %d)", audioErrorText(lastError_).c_str(),
            lastError_);
    return 0;
  }
  lastError_ = kAudioOk;
  _inputChannel = handle;
  _deviceHandle = library_.recordGetDevice();
  ChannelInfo info;
  if (library_.channelGetInfo(handle, &info)) {
    _samplingRate = info.freq;
    _inputChannelCount = info.chans;
  }
  std::weak_ptr<QVRecorder> weak = weak_from_this();
  library_.channelSetEndedHandler(handle, [weak, handle] {
    dispatch::mainQueue().async([weak, handle] {
      if (auto self = weak.lock()) self->captureEnded(handle);
    });
  });
  _recordQueue->sync([this] {
    for (const auto& consumer : *_consumers) announceFormatLocked(consumer);
  });
  return handle;
}

void QVRecorder::captureEnded(uint32_t handle) {
  if (_inputChannel != handle) return;
  const CaptureEnd why = library_.channelEndReason(handle);
  qv::log("Recorder: the recording device went away");
  keepLosses();
  library_.channelFree(handle);
  _inputChannel = 0;
  if (auto delegate = _delegate.lock()) delegate->recorderStoppedWithChannel(*this, 0);
  if (auto delegate = _delegate.lock()) delegate->recorderLostDevice(*this, why);
}

ChannelLosses QVRecorder::losses() const {
  ChannelLosses losses;
  if (_inputChannel != 0) library_.channelGetLosses(_inputChannel, &losses);
  losses.droppedFrames += endedLosses_.droppedFrames;
  losses.xruns += endedLosses_.xruns;
  return losses;
}

void QVRecorder::keepLosses() {
  ChannelLosses running;
  if (_inputChannel != 0 && library_.channelGetLosses(_inputChannel, &running)) {
    endedLosses_.droppedFrames += running.droppedFrames;
    endedLosses_.xruns += running.xruns;
  }
}

void QVRecorder::resumeRec() {
  startRecChannel();
  if (_inputChannel == 0) {
    qv::log("Recorder: No channel to resume");
    return;
  }
  if (!library_.channelPlay(_inputChannel, true)) {
    lastError_ = AudioLibrary::errorCode();
    qv::log("Could not resume recording: %s (error %d)", audioErrorText(lastError_).c_str(),
            lastError_);
    return;
  }
  if (auto delegate = _delegate.lock()) delegate->recorderStartedWithChannel(*this, _inputChannel);
}

void QVRecorder::pauseRec() {
  if (_inputChannel == 0) {
    qv::log("Recorder: No channel to pause");
    return;
  }
  if (!library_.channelPause(_inputChannel)) {
    if (AudioLibrary::errorCode() != kAudioErrorAlready) {
      qv::log("Could not pause recording: %s (error %d)",
              audioErrorText(AudioLibrary::errorCode()).c_str(), AudioLibrary::errorCode());
    }
    return;
  }
  if (auto delegate = _delegate.lock()) delegate->recorderStoppedWithChannel(*this, _inputChannel);
}

void QVRecorder::stopRec() {
  if (_inputChannel == 0) return;
  keepLosses();
  library_.channelStop(_inputChannel);
  library_.channelFree(_inputChannel);
  _inputChannel = 0;
  if (auto delegate = _delegate.lock()) delegate->recorderStoppedWithChannel(*this, 0);
}

bool QVRecorder::captureCallback(const void* data, uint32_t bytes) {
  // One pointer in the block keeps it inside std::function's own storage, so a delivery
  // allocates nothing.
  struct Delivery {
    QVRecorder* self;
    const void* data;
    uint32_t bytes;
  } delivery{this, data, bytes};
  _recordQueue->sync([d = &delivery] { d->self->deliver(d->data, d->bytes); });
  return true;
}

void QVRecorder::deliver(const void* data, uint32_t bytes) {
  const auto* in = static_cast<const float*>(data);
  const uint32_t channels = captureChannels_;
  const uint32_t frames = std::min<uint32_t>((bytes / channels) / 4, _recordBufferSize / 8);
  const int32_t m0 = _outputChannelMap[0];
  const int32_t m1 = _outputChannelMap[1];
  // A map entry the device does not have yields silence rather than a read past the
  // frame.
  const bool ok0 = m0 >= 0 && static_cast<uint32_t>(m0) < channels;
  const bool ok1 = m1 >= 0 && static_cast<uint32_t>(m1) < channels;
  float* out = _recordBuffer.data();
  for (uint32_t f = 0; f < frames; ++f) {
    const float* frame = in + static_cast<size_t>(f) * channels;
    out[2 * f] = ok0 ? frame[m0] : 0.0f;
    out[2 * f + 1] = ok1 ? frame[m1] : 0.0f;
  }
  const std::shared_ptr<const ConsumerList> consumers = _consumers;
  for (const auto& consumer : *consumers) consumer->getData(out, frames * 8);
}

void QVRecorder::setChannelMap(const std::vector<int32_t>& map) {
  std::vector<int32_t> entries(std::max<size_t>(map.size(), 2), 0);
  std::copy(map.begin(), map.end(), entries.begin());
  controlChannelMap_ = entries;
  _recordQueue->sync([&] {
    _outputChannelMap = std::move(entries);
    _outputChannelCount = static_cast<uint32_t>(_outputChannelMap.size());
  });
  if (_inputChannel != 0) library_.channelSetPortNames(_inputChannel, portNames());
}

PortNames QVRecorder::portNames() const {
  // Blocks carry the measurement first and the reference second; the device's inputs
  // are named after the role the map gives them, as the preferences name them.
  PortNames names(_inputChannelCount);
  const auto name = [&](int32_t input, const char* role) {
    if (input >= 0 && static_cast<uint32_t>(input) < names.size() &&
        names[static_cast<size_t>(input)].empty())
      names[static_cast<size_t>(input)] = role;
  };
  name(controlChannelMap_[0], kMeasurementPortName);
  name(controlChannelMap_[1], kReferencePortName);
  return names;
}

std::vector<int32_t> QVRecorder::channelMap() {
  std::vector<int32_t> result;
  _recordQueue->sync([&] { result = {_outputChannelMap[0], _outputChannelMap[1]}; });
  return result;
}

void QVRecorder::announceFormatLocked(const std::shared_ptr<QVRecorderConsumer>& consumer) {
  consumer->setInputChannelCountSamplingRateAudioDataTransport(
      _outputChannelCount.load(std::memory_order_relaxed), _samplingRate,
      std::weak_ptr<QVAudioDataTransport>(shared_from_this()));
}

void QVRecorder::addConsumer(std::shared_ptr<QVRecorderConsumer> consumer) {
  _recordQueue->sync([&] {
    if (std::find(_consumers->begin(), _consumers->end(), consumer) == _consumers->end()) {
      auto list = std::make_shared<ConsumerList>(*_consumers);
      list->push_back(consumer);
      _consumers = std::move(list);
    }
    announceFormatLocked(consumer);
  });
}

void QVRecorder::removeConsumer(const std::shared_ptr<QVRecorderConsumer>& consumer) {
  _recordQueue->sync([&] {
    auto list = std::make_shared<ConsumerList>();
    for (const auto& c : *_consumers) {
      if (c != consumer) list->push_back(c);
    }
    _consumers = std::move(list);
  });
}

void QVRecorder::performSafeBlock(const std::function<void()>& block) { _recordQueue->sync(block); }

}  // namespace qv
