// layertint: the slicer. Started by the host with a command line it slices
// the model unattended and sets the ready event; started by hand it shows its
// window.
#include <unistd.h>

#include <QApplication>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "main_window.h"
#include "platform/qt_clock.h"
#include "slicer/command_line.h"
#include "slicer/slicer_app.h"
#include "slicer/slicer_core.h"

int main(int argc, char** argv) {
  // Without a display the program still runs (unattended) on Qt's offscreen
  // platform instead of failing to start.
  if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) {
    // Nobody can give this program work but its command line.
    std::string text;
    if (const auto status = lt::endWithoutDisplay(std::vector<std::string>(argv + 1, argv + argc), text)) {
      std::fputs(text.c_str(), *status == 0 ? stdout : stderr);
      return *status;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
  // The batch pass counts its 100 ms from here.
  plat::QtClock clock;
  const std::int64_t started = clock.tickMs();
  // Qt takes its own options out of argv; keep ours as given.
  std::vector<std::string> args(argv + 1, argv + argc);
  QApplication qapp(argc, argv);
  setlocale(LC_NUMERIC, "C");
  QGuiApplication::setApplicationDisplayName("layertint");

  std::string cwd;
  if (char* d = getcwd(nullptr, 0)) {
    cwd = d;
    std::free(d);
  }
  lt::SlicerCore stages;
  lt::MainWindow window;
  lt::SlicerApp app(clock, window, stages);
  window.attach(&app);
  stages.setWindows(&window);
  // The serial device of direct printer output.
  if (const char* port = std::getenv("LAYERTINT_PRINTER_PORT"); port && *port) app.state().printerPort = port;
  app.formCreate(std::move(args), cwd, started);
  window.show();
  qapp.exec();
  return app.exitStatus();
}
