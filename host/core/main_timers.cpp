#include "host/core/main_timers.h"

namespace ph {

MainTimers::MainTimers(plat::Clock& clock) {
#define PH_MAKE_TIMER(n, ms, on) \
  n = clock.createTimer(#n);     \
  n->setInterval(ms);            \
  n->setEnabled(on);
  PH_MAIN_TIMERS(PH_MAKE_TIMER)
#undef PH_MAKE_TIMER
}

std::vector<plat::Timer*> MainTimers::all() const {
  std::vector<plat::Timer*> v;
#define PH_LIST_TIMER(n, ms, on) v.push_back(n.get());
  PH_MAIN_TIMERS(PH_LIST_TIMER)
#undef PH_LIST_TIMER
  return v;
}

plat::Timer* MainTimers::find(const std::string& name) const {
  for (auto* t : all())
    if (t->name() == name) return t;
  return nullptr;
}

}  // namespace ph
