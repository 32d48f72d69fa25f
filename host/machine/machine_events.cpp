#include "host/machine/machine_events.h"

#include "host/core/host_core.h"

namespace ph {

void UnbuiltMachineEvents::notBuilt(const char* what) { core_.memoPrintf("(%s: not built yet)", what); }

}  // namespace ph
