// The threads that a setting of 0 stands for: the CPUs this process may
// run on, not every core the machine has. A process held to some CPUs
// (taskset, a container's cpuset) or given a share of their time (a
// cgroup's CPU quota, as Kubernetes and systemd set it) gets that many,
// and a variable its user already sets for this lowers the count further:
//
//   source                                 counts
//   -------------------------------------  ------------------------------------------------
//   affinity mask                          the CPUs in it (sched_getaffinity; Windows: the
//                                          process's affinity mask)
//   cgroup CPU quota (v2 cpu.max, v1       quota / period, rounded up, the least of the
//     cpu.cfs_quota_us / cfs_period_us)    process's group and the groups above it
//   VORNCALC_NUM_THREADS                   a count of at least 1 (this library's own)
//   OMP_NUM_THREADS                        its first count (OpenMP's list "4,2" gives 4),
//                                          where VORNCALC_NUM_THREADS is not set
//
// The variables only lower the count: threads beyond the CPUs would wait
// for each other. A value that is not a count of at least 1 is ignored.
// Read once per process, on the first call that spreads, and again in a
// child after fork (a launcher may move it to another group or CPU).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace MathUtils::detail {

// The count, at least 1.
int DefaultThreadCount();

// The pieces, apart for tests.

// The CPUs a cgroup quota allows, given /proc/self/mountinfo,
// /proc/self/cgroup and a reader of a file's text (none where it cannot be
// read); none where no quota is set.
std::optional<int> CgroupCpuLimit(std::string_view mountInfo, std::string_view cgroups,
                                  const std::function<std::optional<std::string>(const std::string&)>& read);

// cpus lowered by the variables' values (null where unset).
int LoweredByEnvironment(int cpus, const char* vorncalcThreads, const char* openMpThreads);

}  // namespace MathUtils::detail
