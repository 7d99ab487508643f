#pragma once
// The sentences of DeviceNotice: what was lost and why, what comes next, and why a start
// failed, with the device named as the lists name it. Pure functions; any thread.
#include <string>

#include "audiolib/AudioTypes.h"
#include "session/DeviceNotice.h"

namespace qv::session {

// `resumes`: whether the session brings it back by itself when the device returns.
DeviceNotice inputLostNotice(const std::string& device, CaptureEnd why, bool resumes);
DeviceNotice inputBackNotice(const std::string& device, bool resumed);
DeviceNotice inputFailedNotice(const std::string& device, int audioError);
DeviceNotice outputLostNotice(const std::string& device, bool resumes);
DeviceNotice outputBackNotice(const std::string& device, bool resumed);
DeviceNotice outputFailedNotice(const std::string& device, int audioError);

}  // namespace qv::session
