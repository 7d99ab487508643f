#include "gui/app/SleepMonitor.h"

#include <QFileInfo>

namespace qv::gui {

SleepMonitor::SleepMonitor(QDBusConnection bus, std::function<void()> willSleep,
                           std::function<void()> didWake)
    : bus_(std::move(bus)), willSleep_(std::move(willSleep)), didWake_(std::move(didWake)) {
  if (!bus_.isConnected()) return;
  listening_ = bus_.connect(QString::fromLatin1(kService), QString::fromLatin1(kPath),
                            QString::fromLatin1(kInterface), QString::fromLatin1(kSignal), this,
                            SLOT(prepareForSleep(bool)));
}

SleepMonitor::~SleepMonitor() { stopListening(); }

void SleepMonitor::stopListening() {
  if (!listening_) return;
  bus_.disconnect(QString::fromLatin1(kService), QString::fromLatin1(kPath),
                  QString::fromLatin1(kInterface), QString::fromLatin1(kSignal), this,
                  SLOT(prepareForSleep(bool)));
  listening_ = false;
}

QDBusConnection SleepMonitor::systemBusIfAny() {
  // Qt warns on stderr when it cannot reach the system bus; containers and CI have none,
  // and there the program should run quietly. Look for the socket first.
  const QByteArray address = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
  const bool socketThere = !address.isEmpty() ||
                           QFileInfo::exists(QStringLiteral("/run/dbus/system_bus_socket")) ||
                           QFileInfo::exists(QStringLiteral("/var/run/dbus/system_bus_socket"));
  if (!socketThere) return QDBusConnection(QStringLiteral("quorvex-no-system-bus"));
  return QDBusConnection::systemBus();
}

void SleepMonitor::prepareForSleep(bool sleeping) {
  if (sleeping) {
    if (willSleep_) willSleep_();
  } else if (didWake_) {
    didWake_();
  }
}

}  // namespace qv::gui
