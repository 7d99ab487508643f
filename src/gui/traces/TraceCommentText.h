#pragma once
// A capture's stored comment ("Smoothing: 1/24 oct, averaging: 100.000000, delay: 3.01 ms",
// the format other readers of the database rely on) as a person reads it:
// "Smoothing 1/24 oct · Averaging Fast (≈ 0.3 s) · Delay 3.01 ms". A comment in any other
// form is shown as it stands. Pure functions; any thread.
#include <QString>
#include <string>

namespace qv::gui {

class TraceCommentText {
 public:
  // `tickInterval`: seconds between display updates, which the averaging's time depends on.
  static QString readable(const std::string& comment, double tickInterval);
};

}  // namespace qv::gui
