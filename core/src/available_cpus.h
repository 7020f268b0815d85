// How many CPUs this process may use: the affinity mask, further limited by
// a cgroup CPU quota (v2 cpu.max or v1 cfs quota) on the way to the root.
#pragma once

#include <cstddef>

namespace ovra {

// At least 1.
std::size_t available_cpus();

}  // namespace ovra
