#pragma once
// How the window and velmora-cli word a refused or failed change of the job store,
// in the run's language.
#include <string>

#include "jobs/job_store.h"

namespace velmora::jobs {

// Why `result` changed nothing, naming what it is about; the archive's failure when
// the archive failed; "" for a change that was made.
std::string RefusalText(const JobResult& result);

}  // namespace velmora::jobs
