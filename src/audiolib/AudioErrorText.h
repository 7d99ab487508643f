#pragma once
// The audio library's error codes in words, for messages a user reads: "the device is not
// there (unplugged, or its server is not running)" rather than "23". Any thread.
#include <string>

#include "audiolib/AudioTypes.h"

namespace qv {

// What went wrong, as the end of a sentence ("Can't start recording: " + text); unknown
// codes keep their number, in words.
std::string audioErrorText(int code);
// Why a capture ended by itself, briefly ("its server stopped or it was unplugged").
std::string captureEndText(CaptureEnd why);

}  // namespace qv
