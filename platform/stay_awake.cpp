#include "platform/stay_awake.h"

#include <unistd.h>

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>

namespace plat {

LogindStayAwake::LogindStayAwake(std::function<void(const std::string&)> log) : log_(std::move(log)) {}

LogindStayAwake::~LogindStayAwake() { release(); }

void LogindStayAwake::request() {
  if (fd_ >= 0) return;
  const auto tell = [this](const std::string& why) {
    if (told_) return;
    told_ = true;
    if (log_) log_("stay awake: logind cannot be asked (" + why + "); the computer may sleep during a print");
  };
  QDBusConnection bus = QDBusConnection::systemBus();
  if (!bus.isConnected()) {
    tell("no system bus");
    return;
  }
  QDBusInterface manager("org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager", bus);
  if (!manager.isValid()) {
    tell("no login manager");
    return;
  }
  // A bus that does not answer must not hold up the print.
  manager.setTimeout(2000);
  QDBusReply<QDBusUnixFileDescriptor> reply = manager.call(
      "Inhibit", QStringLiteral("sleep:idle"), QStringLiteral("prismhost"), QStringLiteral("printing"),
      QStringLiteral("block"));
  if (!reply.isValid()) {
    tell(reply.error().message().toStdString());
    return;
  }
  // The reply's descriptor closes with it: the inhibitor lives on a copy.
  fd_ = ::dup(reply.value().fileDescriptor());
  if (fd_ < 0) tell("no descriptor");
}

void LogindStayAwake::release() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
}

}  // namespace plat
