#include "host/jobdata/job_layout.h"

#include "host/core/host_core.h"

namespace ph {

JobLayout::JobLayout(HostCore& core, JobState& job) : printpages(core.s.printpages), yvLim(core.s.yvLow), job(job) {}

}  // namespace ph
