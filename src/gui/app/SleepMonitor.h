#pragma once
// Follows logind's PrepareForSleep signal on a D-Bus connection (the system bus in the
// program, any bus in tests): true before the machine sleeps, false after it woke.
// Without a connected bus it listens to nothing and says nothing. Main thread.
#include <QDBusConnection>
#include <QObject>
#include <functional>

namespace qv::gui {

class SleepMonitor final : public QObject {
  Q_OBJECT

 public:
  static constexpr const char* kService = "org.freedesktop.login1";
  static constexpr const char* kPath = "/org/freedesktop/login1";
  static constexpr const char* kInterface = "org.freedesktop.login1.Manager";
  static constexpr const char* kSignal = "PrepareForSleep";

  SleepMonitor(QDBusConnection bus, std::function<void()> willSleep, std::function<void()> didWake);
  ~SleepMonitor() override;

  // True while the signal is being listened to.
  bool isListening() const { return listening_; }
  void stopListening();

  // The system bus when one answers, else a disconnected connection; never logs.
  static QDBusConnection systemBusIfAny();

 private slots:
  void prepareForSleep(bool sleeping);

 private:
  QDBusConnection bus_;
  std::function<void()> willSleep_;
  std::function<void()> didWake_;
  bool listening_ = false;
};

}  // namespace qv::gui
