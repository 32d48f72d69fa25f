#pragma once
// The end of a program that must always end. SIGTERM and SIGINT become a
// request that the user-interface thread handles (it runs the close
// sequence); a watch thread makes sure the process then ends soon, whatever
// that thread is doing: stuck in a long step that lets no events run, or
// still inside a long loop after the close sequence ran from one of its
// event pumps. A second signal ends the process at once.
#include <QEvent>
#include <QObject>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/handover.h"

namespace plat {

class ProgramEnd {
 public:
  // onSignal runs on the UI thread (through the poster) when SIGTERM or
  // SIGINT arrives and returns the status the program is to end with.
  // graceMs: how long the UI thread may take to get to it, and then how
  // long main() may take to return.
  ProgramEnd(UiPoster poster, std::function<int(int signal)> onSignal, int graceMs);
  // main() is done: the watch ends and the signals get their default action.
  ~ProgramEnd();
  ProgramEnd(const ProgramEnd&) = delete;
  ProgramEnd& operator=(const ProgramEnd&) = delete;

  // The program is to end with `status` (its close sequence has run): when
  // main() has not returned within the grace time, the process exits.
  void endWithin(int status);

 private:
  struct Shared;
  std::shared_ptr<Shared> shared_;
  std::thread watch_;
};

// The signal (SIGTERM or SIGINT) that asked this program to end, or 0. Set
// by the signal itself, before the user-interface thread hears of it: a
// long loop that lets no events run polls it (an atomic load) and stops,
// instead of running on until the watch thread cuts the process off.
int endSignalPending();

// A Qt application class whose event handlers may throw: notify() catches
// what a handler lets escape and hands its text to onFault, instead of
// letting it pass through the event loop (which Qt does not support).
template <class App>
class FaultCatching : public App {
 public:
  using App::App;
  std::function<void(const std::string& what)> onFault;

  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return App::notify(receiver, event);
    } catch (const std::exception& e) {
      fault(e.what());
    } catch (...) {
      fault("unknown exception");
    }
    return false;
  }

 private:
  void fault(const std::string& what) noexcept {
    try {
      if (onFault) onFault(what);
    } catch (...) {
    }
  }
};

}  // namespace plat
