// prismhost: the operator's program of the powder-bed colour printer.
#include <QApplication>
#include <QSocketNotifier>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <unistd.h>

#include "host/app/host.h"
#include "host/ui/main_window.h"
#include "platform/handover.h"
#include "platform/qt_clock.h"

namespace {
int signalPipe[2] = {-1, -1};
void onTerminate(int) {
  char c = 1;
  if (write(signalPipe[1], &c, 1) < 0) {
  }
}
}  // namespace

int main(int argc, char** argv) {
  const bool noDisplay = !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY");
  if (noDisplay && !std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  // Qt applies the user's locale; files and machines want "." in numbers.
  std::setlocale(LC_NUMERIC, "C");
  const bool headless = noDisplay || QGuiApplication::platformName() == "offscreen";
  try {
    plat::QtClock clock;
    ph::MainWindow window(headless);
    ph::Host host(window, clock, std::vector<std::string>(argv + 1, argv + argc), plat::qtUiPoster());
    window.attach(&host);

    // A termination request closes the window as its close button does, so
    // the close sequence (log append) runs.
    if (pipe(signalPipe) == 0) {
      auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &window);
      QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
        char c;
        if (read(signalPipe[0], &c, 1) < 0) {
        }
        window.close();
      });
      std::signal(SIGTERM, onTerminate);
      std::signal(SIGINT, onTerminate);
    }

    host.FormCreate();
    window.show();
    const int rc = app.exec();
    host.core.Memo1.setView(nullptr);
    return rc != 0 ? rc : host.core.run.exitStatus();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "prismhost: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "prismhost: unexpected error\n");
  }
  return 1;
}
