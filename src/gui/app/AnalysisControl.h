#pragma once
// What the application coordinator needs of the measurement view: start and stop the
// analysis, clear the traces, and the device manager handed over at start. The desktop
// program adapts the measurement view to it; tests count the calls. Main thread.
#include <memory>

namespace qv {
class QXDeviceManager;
}

namespace qv::gui {

class AnalysisControl {
 public:
  virtual ~AnalysisControl() = default;
  virtual void startAnalysis() = 0;
  virtual void stop() = 0;
  virtual bool started() const = 0;
  virtual void clearAllTraces() = 0;
  virtual void setDeviceManager(std::shared_ptr<QXDeviceManager> manager) = 0;
};

}  // namespace qv::gui
