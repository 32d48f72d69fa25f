#include "host/jobdata/job_layout.h"

#include "host/core/host_core.h"

namespace ph {

JobLayout::JobLayout(HostCore& core)
    : printpages(core.s.printpages), yvLim(core.s.yvLow), modelFits(core.modelFits), dmcCurrent(core.dmcCurrent) {}

}  // namespace ph
