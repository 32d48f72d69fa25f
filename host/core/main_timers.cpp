#include "host/core/main_timers.h"

#include <stdexcept>

namespace ph {

const std::vector<MainTimerEntry>& mainTimerTable() {
  // name, interval in ms, on at load
  static const std::vector<MainTimerEntry> table = {
      {"MarlinTimer", 100, false}, {"Sendloop", 1000, false}, {"inktransfer", 20, false},
      {"TimBurst", 1000, false}, {"sendM18", 20000, false}, {"newbaud", 500, false}, {"InkCommStart", 100, true},
      {"CartrScan", 2000, false}, {"PrintSim", 200, false}, {"endbForm", 1000, false}, {"Drill", 60, false},
      {"firstinkj", 100, false}, {"afterp3ddelay", 1500, false}, {"blackheater", 2000, false},
      {"cartrsound", 300, false}, {"Batch", 1000, false}, {"Init", 1000, true}, {"actdelayer", 1000, false},
      {"brushTimer", 50, false}, {"InkCts", 100, false}, {"alligntimer", 1000, false}, {"Sizing", 300, false},
      {"Movecheck", 1000, true}, {"Labelwipe", 5000, false}, {"CommScan", 200, false}, {"UplFirm", 1000, false},
      {"PulsCalib", 2000, false}, {"ParamUpdates", 100, false}, {"EndHint", 5000, false},
      {"MarlinBusy", 10000, false}, {"paster", 50, false}, {"primeStates", 5000, false},
      {"powderreport", 5000, false}, {"LeaveProgram", 1000, false}, {"FromFile", 100, false},
      {"SearchLater", 100, false}, {"FocusSet", 100, false}, {"AlertSound", 500, false}, {"Xtimer", 3000, false},
      {"NewShake", 1000, false}, {"HoldMarlin", 30000, false}, {"HomeSeq", 10, false},
      {"UpdwnRoller", 1000, false}, {"UnselDropd", 50, false}, {"Plugseq", 2000, false}, {"RollStop", 1000, false},
      {"multpowd", 100, false},
  };
  return table;
}

namespace {

std::size_t placeOf(const std::string& name) {
  const auto& table = mainTimerTable();
  for (std::size_t i = 0; i < table.size(); ++i)
    if (name == table[i].name) return i;
  throw std::logic_error("no main timer is named " + name);
}

}  // namespace

MainTimers::MainTimers(plat::Clock& clock) : clock_(clock), byPlace_(mainTimerTable().size(), nullptr) {}

OwnedTimer MainTimers::make(const std::string& name) {
  const std::size_t place = placeOf(name);
  const MainTimerEntry& entry = mainTimerTable()[place];
  OwnedTimer t(clock_.createRankedTimer(entry.name, int(place)).release(), TimerRelease{this});
  t->setInterval(entry.intervalMs);
  t->setEnabled(entry.onAtLoad);
  byPlace_[place] = t.get();
  return t;
}

void MainTimers::forget(const plat::Timer* timer) {
  // A later owner of the same name keeps its place.
  for (auto& p : byPlace_)
    if (p == timer) p = nullptr;
}

void TimerRelease::operator()(plat::Timer* timer) const {
  if (directory) directory->forget(timer);
  delete timer;
}

std::vector<plat::Timer*> MainTimers::all() const {
  std::vector<plat::Timer*> v;
  for (auto* t : byPlace_)
    if (t) v.push_back(t);
  return v;
}

plat::Timer* MainTimers::find(const std::string& name) const {
  for (auto* t : byPlace_)
    if (t && t->name() == name) return t;
  return nullptr;
}

plat::Timer& MainTimers::at(const std::string& name) const {
  if (plat::Timer* t = find(name)) return *t;
  throw std::logic_error("no object has made the timer " + name);
}

}  // namespace ph
