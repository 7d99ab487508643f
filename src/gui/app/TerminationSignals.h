#pragma once
// Turns SIGINT, SIGTERM and SIGHUP into an orderly quit of the Qt event loop (so the analysis
// stops and the settings and window frame are kept), through a self-pipe: the handler
// only writes one byte. One per process; main thread.
#include <QObject>

class QSocketNotifier;

namespace qv::gui {

class TerminationSignals final : public QObject {
  Q_OBJECT

 public:
  explicit TerminationSignals(QObject* parent = nullptr);
  ~TerminationSignals() override;

 private:
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace qv::gui
