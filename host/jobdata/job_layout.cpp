#include "host/jobdata/job_layout.h"
