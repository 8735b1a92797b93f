// The cores the process may run on.

#include "shell/usable_cores.h"

#include <sched.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace zentrope {

std::optional<int> CoresFromCpuMax(const std::string& text) {
  std::istringstream in(text);
  std::string quota;
  double period = 0.0;
  if (!(in >> quota >> period) || quota == "max" || !(period > 0.0)) {
    return std::nullopt;
  }
  char* end = nullptr;
  const double q = std::strtod(quota.c_str(), &end);
  if (end == quota.c_str() || *end != '\0' || !(q > 0.0) || !std::isfinite(q)) {
    return std::nullopt;
  }
  return std::max(1, static_cast<int>(std::ceil(q / period)));
}

int UsableCores() {
  int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    cores = std::max(1, CPU_COUNT(&set));
  }
  // The cgroup v2 quota of the process's own group (containers and Slurm
  // with cgroup confinement).
  std::ifstream cgroup("/proc/self/cgroup");
  std::string line;
  while (std::getline(cgroup, line)) {
    if (line.rfind("0::", 0) == 0) {
      std::ifstream max("/sys/fs/cgroup" + line.substr(3) + "/cpu.max");
      std::string text;
      if (std::getline(max, text)) {
        if (const std::optional<int> quota = CoresFromCpuMax(text)) {
          cores = std::min(cores, *quota);
        }
      }
    }
  }
  if (const char* slurm = std::getenv("SLURM_CPUS_PER_TASK")) {
    char* end = nullptr;
    errno = 0;
    const long n = std::strtol(slurm, &end, 10);
    if (end != slurm && *end == '\0' && errno == 0 && n >= 1) {
      cores = std::min<long>(cores, n) > 0 ? static_cast<int>(std::min<long>(cores, n)) : 1;
    }
  }
  return std::max(cores, 1);
}

}  // namespace zentrope
