#pragma once
// The 47 timers of the main window, by name, with their intervals and whether
// they run from the start. The object that owns a timer's sequence sets its
// handler; a timer without a handler never fires.
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"

namespace ph {

// name, interval in ms, on at load
#define PH_MAIN_TIMERS(X)                                                                                          \
  X(MarlinTimer, 100, false) X(Sendloop, 1000, false) X(inktransfer, 20, false) X(TimBurst, 1000, false)          \
  X(sendM18, 20000, false) X(newbaud, 500, false) X(InkCommStart, 100, true) X(CartrScan, 2000, false)           \
  X(PrintSim, 200, false) X(endbForm, 1000, false) X(Drill, 60, false) X(firstinkj, 100, false)                  \
  X(afterp3ddelay, 1500, false) X(blackheater, 2000, false) X(cartrsound, 300, false) X(Batch, 1000, false)      \
  X(Init, 1000, true) X(actdelayer, 1000, false) X(brushTimer, 50, false) X(InkCts, 100, false)                   \
  X(alligntimer, 1000, false) X(Sizing, 300, false) X(Movecheck, 1000, true) X(Labelwipe, 5000, false)           \
  X(CommScan, 200, false) X(UplFirm, 1000, false) X(PulsCalib, 2000, false) X(ParamUpdates, 100, false)          \
  X(EndHint, 5000, false) X(MarlinBusy, 10000, false) X(paster, 50, false) X(primeStates, 5000, false)           \
  X(powderreport, 5000, false) X(LeaveProgram, 1000, false) X(FromFile, 100, false) X(SearchLater, 100, false)   \
  X(FocusSet, 100, false) X(AlertSound, 500, false) X(Xtimer, 3000, false) X(NewShake, 1000, false)              \
  X(HoldMarlin, 30000, false) X(HomeSeq, 10, false) X(UpdwnRoller, 1000, false) X(UnselDropd, 50, false)         \
  X(Plugseq, 2000, false) X(RollStop, 1000, false) X(multpowd, 100, false)

struct MainTimers {
  explicit MainTimers(plat::Clock& clock);

#define PH_DECLARE_TIMER(name, ms, on) std::unique_ptr<plat::Timer> name;
  PH_MAIN_TIMERS(PH_DECLARE_TIMER)
#undef PH_DECLARE_TIMER

  // Every timer, in table order.
  std::vector<plat::Timer*> all() const;
  plat::Timer* find(const std::string& name) const;
};

}  // namespace ph
