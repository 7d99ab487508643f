#include "audiolib/AudioErrorText.h"

namespace qv {

std::string audioErrorText(int code) {
  switch (code) {
    case kAudioOk:
      return "no error";
    case kAudioErrorMemory:
      return "there is not enough memory for its buffers";
    case kAudioErrorDriver:
      return "the device refused to open or start (another program may be using it)";
    case kAudioErrorHandle:
      return "the stream was already closed";
    case kAudioErrorFormat:
      return "the device cannot run at that rate or with that many channels";
    case kAudioErrorInit:
      return "the device was not opened first";
    case kAudioErrorAlready:
      return "it is already open or paused";
    case kAudioErrorNoChannels:
      return "the device has no channels in that direction";
    case kAudioErrorDevice:
      return "the device is not there (unplugged, or its server is not running)";
    case kAudioErrorNotPlaying:
      return "the device stopped or went away while in use";
    default:
      return "the audio system reported an unexpected error (code " + std::to_string(code) + ")";
  }
}

std::string captureEndText(CaptureEnd why) {
  switch (why) {
    case CaptureEnd::DeviceStopped:
      return "its server stopped or it was unplugged";
    case CaptureEnd::NoAudio:
      return "no audio arrived";
    case CaptureEnd::Failed:
      return "the capture could not go on";
    case CaptureEnd::None:
      break;
  }
  return "the capture ended";
}

}  // namespace qv
