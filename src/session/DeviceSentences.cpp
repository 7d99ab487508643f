#include "session/DeviceSentences.h"

#include "audiolib/AudioErrorText.h"

namespace qv::session {
namespace {

// “JACK”, or a plain description when the name is not known.
std::string named(const char* what, const std::string& device) {
  if (device.empty()) return std::string("The ") + what;
  return std::string("The ") + what + " \u201C" + device + "\u201D";
}

DeviceNotice notice(DeviceNotice::Kind kind, const std::string& device, std::string sentence,
                    bool resumed = false) {
  DeviceNotice n;
  n.kind = kind;
  n.device = device;
  n.sentence = std::move(sentence);
  n.resumed = resumed;
  return n;
}

}  // namespace

DeviceNotice inputLostNotice(const std::string& device, CaptureEnd why, bool resumes) {
  std::string s = named("recording device", device);
  s += why == CaptureEnd::NoAudio ? " stopped delivering audio" : " went away";
  if (why == CaptureEnd::DeviceStopped) s += " (its server stopped, or it was unplugged)";
  if (why == CaptureEnd::Failed) s += " (the capture could not go on)";
  s += ": the measurement stopped. ";
  s += resumes ? "It resumes by itself when the device is back."
               : "Press Space to measure again once the device is back.";
  DeviceNotice n = notice(DeviceNotice::Kind::InputLost, device, s);
  n.reason = captureEndText(why);
  return n;
}

DeviceNotice inputBackNotice(const std::string& device, bool resumed) {
  std::string s = named("recording device", device) + " is back";
  s += resumed ? ": the measurement resumed." : ". Press Space to measure again.";
  return notice(DeviceNotice::Kind::InputBack, device, s, resumed);
}

DeviceNotice inputFailedNotice(const std::string& device, int audioError) {
  std::string s = "The measurement could not start: ";
  if (audioError == kAudioErrorDevice || audioError == kAudioErrorVanished) {
    s += device.empty() ? std::string("the recording device is not there")
                        : "the recording device \u201C" + device + "\u201D is not there";
    s += " (unplugged, or its server is not running). Choose another in the preferences, "
         "or press Space again once it is back.";
  } else {
    s += audioErrorText(audioError) + ".";
  }
  return notice(DeviceNotice::Kind::InputFailed, device, s);
}

DeviceNotice outputLostNotice(const std::string& device, bool resumes) {
  std::string s = named("output device", device) + " went away: the noise stopped. ";
  s += resumes ? "It plays again when the device is back."
               : "Switch it on again once the device is back.";
  return notice(DeviceNotice::Kind::OutputLost, device, s);
}

DeviceNotice outputBackNotice(const std::string& device, bool resumed) {
  std::string s = named("output device", device) + " is back";
  s += resumed ? ": the noise plays again." : ".";
  return notice(DeviceNotice::Kind::OutputBack, device, s, resumed);
}

DeviceNotice outputFailedNotice(const std::string& device, int audioError) {
  std::string s = "The noise could not start";
  if (!device.empty()) s += " on \u201C" + device + "\u201D";
  s += ": " + audioErrorText(audioError) + ".";
  return notice(DeviceNotice::Kind::OutputFailed, device, s);
}

}  // namespace qv::session
