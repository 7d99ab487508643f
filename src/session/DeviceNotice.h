#pragma once
// What happened to one of the session's devices, in words for the user: a capture or the
// noise that went away, came back, or could not start. A plain value.
#include <string>

namespace qv::session {

struct DeviceNotice {
  enum class Kind {
    InputLost,     // the capture ended by itself; the display stopped
    InputBack,     // its device returned (`resumed`: the capture runs again)
    InputFailed,   // a start of the capture failed
    OutputLost,    // the noise's device went away; the noise stopped
    OutputBack,    // its device returned (`resumed`: the noise plays again)
    OutputFailed,  // the noise could not start
  };
  Kind kind = Kind::InputLost;
  // The device's name as the lists show it ("JACK"); empty when not known.
  std::string device;
  // One or two plain sentences that say what happened and what comes next.
  std::string sentence;
  // Why, briefly, when a capture ended by itself ("its server stopped or it was
  // unplugged"), for a message of the caller's own.
  std::string reason;
  bool resumed = false;

  bool isProblem() const {
    return kind == Kind::InputLost || kind == Kind::InputFailed || kind == Kind::OutputLost ||
           kind == Kind::OutputFailed;
  }
};

}  // namespace qv::session
