// prismhost: the operator's program of the powder-bed colour printer.
#include <pthread.h>
#include <signal.h>

#include <QApplication>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>

#include "host/app/host.h"
#include "host/ui/main_window.h"
#include "platform/handover.h"
#include "platform/program_end.h"
#include "platform/qt_clock.h"

namespace {
// How long the program may take to reach a termination request, and then
// to leave its loops after the close sequence.
constexpr int kEndGraceMs = 3000;
}  // namespace

int main(int argc, char** argv) {
  // A termination request that comes while the toolkit starts waits until
  // the program can handle it (ProgramEnd below), instead of ending it at
  // once as if nothing had been asked of it.
  sigset_t endSignals, oldMask;
  sigemptyset(&endSignals);
  sigaddset(&endSignals, SIGTERM);
  sigaddset(&endSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &endSignals, &oldMask);
  const bool noDisplay = !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY");
  if (noDisplay && !std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  plat::FaultCatching<QApplication> app(argc, argv);
  // Qt applies the user's locale; files and machines want "." in numbers.
  std::setlocale(LC_NUMERIC, "C");
  const bool headless = noDisplay || QGuiApplication::platformName() == "offscreen";

  std::vector<std::string> args(argv + 1, argv + argc);
  if (headless) {
    // Nobody can give this program work but its command line.
    std::string text;
    if (const auto status = ph::endWithoutDisplay(args, text)) {
      std::fputs(text.c_str(), *status == 0 ? stdout : stderr);
      return *status;
    }
  }

  plat::QtClock clock;
  ph::MainWindow window(headless);
  std::unique_ptr<ph::Host> host;
  std::unique_ptr<plat::ProgramEnd> ending;
  // An exception out of a handler (or out of start-up): the log is still
  // appended, then the program ends.
  auto fault = [&](const std::string& what) {
    if (host) host->closeAfterFault(what);
    else std::fprintf(stderr, "prismhost: unexpected error: %s\n", what.c_str());
    if (ending) ending->endWithin(1);
    QCoreApplication::exit(1);
  };
  app.onFault = fault;

  int status = 1;
  try {
    // SIGTERM and SIGINT close without asking, whatever the program is
    // doing, from the very start: a request that comes while the host is
    // being made is handled once the event loop runs.
    ending = std::make_unique<plat::ProgramEnd>(
        plat::qtUiPoster(),
        [&](int signal) {
          if (!host) return 1;
          host->terminate(signal);
          return host->exitStatus();
        },
        kEndGraceMs);
    pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);
    host = std::make_unique<ph::Host>(window, clock, args, plat::qtUiPoster());
    window.attach(host.get());
    host->startUp();
    // The mesh tools were made by startUp after the main window; their
    // window is shown when asked for. The hollowing unit's empty form is not
    // made at all: it has no components and is never shown.
    window.show();
    const int rc = app.exec();
    status = rc != 0 ? rc : host->exitStatus();
  } catch (const std::exception& e) {
    fault(e.what());
  } catch (...) {
    fault("unknown exception");
  }
  ending.reset();
  if (host) host->core.Memo1.setView(nullptr);
  return status;
}
