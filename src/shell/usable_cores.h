// How many cores the process may use: its CPU affinity, the container's CPU
// quota, and a Slurm task's allotment (SLURM_CPUS_PER_TASK), whichever is
// smallest; a farm task never oversubscribes its node.
#pragma once

#include <optional>
#include <string>

namespace zentrope {

// The quota of a cgroup v2 "cpu.max" text ("max 100000" or "200000
// 100000"), rounded up to whole cores; none when unlimited or unreadable.
std::optional<int> CoresFromCpuMax(const std::string& text);

// At least 1.
int UsableCores();

}  // namespace zentrope
