// What the simulated runs of other processes share.
#pragma once

#include <string>

#include "helperrun/process_run.h"
#include "sim_state.h"

namespace sim {

// What a run wrote, as the platform hands it back.
void SetOutput(helperrun::ProcessRun* run, const std::string& output);

}  // namespace sim
