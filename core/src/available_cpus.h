// How many CPUs this process may use: the affinity mask, further limited by
// a cgroup CPU quota (v2 cpu.max or v1 cfs quota) on the way to the root.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace ovra {

// At least 1.
std::size_t available_cpus();

// Whole CPUs granted by the tightest CPU quota on the path from the process's
// cgroup to its hierarchy's root (at least 1), or nothing when no quota is
// set. proc_self is the directory holding "cgroup" and "mountinfo".
std::optional<std::size_t> cgroup_cpu_quota(const std::string& proc_self);

}  // namespace ovra
