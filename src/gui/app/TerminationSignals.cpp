#include "gui/app/TerminationSignals.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>

namespace qv::gui {
namespace {

int gPipe[2] = {-1, -1};
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

void onSignal(int) {
  const char byte = 1;
  // Nothing else is async-signal-safe enough to do here.
  [[maybe_unused]] const ssize_t n = ::write(gPipe[0], &byte, 1);
}

}  // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, gPipe) != 0) return;
  notifier_ = new QSocketNotifier(gPipe[1], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [] {
    char byte;
    [[maybe_unused]] const ssize_t n = ::read(gPipe[1], &byte, 1);
    QCoreApplication::quit();
  });
  struct sigaction action = {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  // A closed terminal (HUP) ends the program as a logout would: in order, like TERM.
  for (int s : kSignals) sigaction(s, &action, nullptr);
}

TerminationSignals::~TerminationSignals() {
  for (int s : kSignals) signal(s, SIG_DFL);
  if (gPipe[0] >= 0) {
    ::close(gPipe[0]);
    ::close(gPipe[1]);
    gPipe[0] = gPipe[1] = -1;
  }
}

}  // namespace qv::gui
