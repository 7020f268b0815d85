// Counts usable CPUs from sched_getaffinity and the cgroup CPU quota found
// through /proc/self/cgroup and /proc/self/mountinfo.
#include "available_cpus.h"

#include <sched.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ovra {

namespace {

std::size_t affinity_count() {
    // Masks larger than the default cpu_set_t exist on big machines: grow
    // the set until the kernel accepts it.
    for (int cpus = CPU_SETSIZE; cpus <= (1 << 20); cpus *= 2) {
        cpu_set_t* set = CPU_ALLOC(cpus);
        if (set == nullptr) return 1;
        const std::size_t size = CPU_ALLOC_SIZE(cpus);
        CPU_ZERO_S(size, set);
        const int rc = sched_getaffinity(0, size, set);
        const int count = rc == 0 ? CPU_COUNT_S(size, set) : -1;
        CPU_FREE(set);
        if (rc == 0) return count > 0 ? static_cast<std::size_t>(count) : 1;
        if (errno != EINVAL) return 1;
    }
    return 1;
}

std::vector<std::string_view> split(std::string_view text, char sep) {
    std::vector<std::string_view> parts;
    for (;;) {
        const std::size_t at = text.find(sep);
        parts.push_back(text.substr(0, at));
        if (at == std::string_view::npos) return parts;
        text.remove_prefix(at + 1);
    }
}

bool contains_word(std::string_view list, std::string_view word) {
    for (std::string_view item : split(list, ',')) {
        if (item == word) return true;
    }
    return false;
}

std::optional<std::int64_t> parse_i64(std::string_view text) {
    std::int64_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end == text.data()) return std::nullopt;
    return value;
}

std::optional<std::string> first_line(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line)) return std::nullopt;
    return line;
}

// CPUs granted by quota/period: whole CPUs, at least one; nothing unless
// both texts are positive integers.
std::optional<std::size_t> quota_cpus(std::string_view quota_text, std::string_view period_text) {
    const auto quota = parse_i64(quota_text);
    const auto period = parse_i64(period_text);
    if (!quota || !period || *quota <= 0 || *period <= 0) return std::nullopt;
    const std::int64_t cpus = *quota / *period;
    return cpus > 0 ? static_cast<std::size_t>(cpus) : 1;
}

// The fewer CPUs of two limits, either of which may be absent.
void keep_smaller(std::optional<std::size_t>& best, std::optional<std::size_t> cpus) {
    if (cpus) best = best ? std::min(*best, *cpus) : *cpus;
}

// cgroup v2 "cpu.max": "max 100000" or "<quota> <period>".
std::optional<std::size_t> read_cpu_max(const std::string& dir) {
    auto line = first_line(dir + "/cpu.max");
    if (!line) return std::nullopt;
    auto fields = split(*line, ' ');
    if (fields.size() < 2 || fields[0] == "max") return std::nullopt;
    return quota_cpus(fields[0], fields[1]);
}

// cgroup v1: cpu.cfs_quota_us is -1 when unlimited.
std::optional<std::size_t> read_cfs_quota(const std::string& dir) {
    auto quota_line = first_line(dir + "/cpu.cfs_quota_us");
    auto period_line = first_line(dir + "/cpu.cfs_period_us");
    if (!quota_line || !period_line) return std::nullopt;
    return quota_cpus(*quota_line, *period_line);
}

struct Mount {
    std::string root;
    std::string point;
};

// The mount of a cgroup hierarchy: fstype "cgroup2", or "cgroup" with the
// controller among its super options.
std::optional<Mount> find_mount(const std::string& proc_self, bool v2) {
    std::ifstream in(proc_self + "/mountinfo");
    std::string line;
    while (std::getline(in, line)) {
        auto fields = split(line, ' ');
        auto dash = std::find(fields.begin(), fields.end(), std::string_view("-"));
        if (fields.size() < 5 || dash == fields.end() || fields.end() - dash < 4) continue;
        const std::string_view fstype = dash[1];
        const bool match = v2 ? fstype == "cgroup2" : fstype == "cgroup" && contains_word(dash[3], "cpu");
        if (match) return Mount{std::string(fields[3]), std::string(fields[4])};
    }
    return std::nullopt;
}

// The smallest quota from the process's cgroup directory up to the mount.
template <class Reader>
std::optional<std::size_t> walk_up(const Mount& mount, std::string_view group, Reader read) {
    if (group.find("..") != std::string_view::npos) return std::nullopt;
    if (mount.root != "/" && group.starts_with(mount.root)) group.remove_prefix(mount.root.size());
    std::string relative(group);
    std::optional<std::size_t> best;
    for (;;) {
        while (!relative.empty() && relative.back() == '/') relative.pop_back();
        keep_smaller(best, read(mount.point + relative));
        if (relative.empty()) return best;
        relative.erase(relative.rfind('/') == std::string::npos ? 0 : relative.rfind('/'));
    }
}

}  // namespace

std::optional<std::size_t> cgroup_cpu_quota(const std::string& proc_self) {
    std::ifstream in(proc_self + "/cgroup");
    std::string line;
    std::optional<std::size_t> best;
    while (std::getline(in, line)) {
        auto fields = split(line, ':');
        if (fields.size() < 3) continue;
        // The path may itself hold ':'; it is everything after the second one.
        const std::string_view group =
            std::string_view(line).substr(fields[0].size() + fields[1].size() + 2);
        if (fields[0] == "0" && fields[1].empty()) {
            if (auto mount = find_mount(proc_self, true)) keep_smaller(best, walk_up(*mount, group, read_cpu_max));
        } else if (contains_word(fields[1], "cpu")) {
            if (auto mount = find_mount(proc_self, false)) keep_smaller(best, walk_up(*mount, group, read_cfs_quota));
        }
    }
    return best;
}

std::size_t available_cpus() {
    std::size_t cpus = affinity_count();
    if (auto quota = cgroup_cpu_quota("/proc/self")) cpus = std::min(cpus, *quota);
    return std::max<std::size_t>(cpus, 1);
}

}  // namespace ovra
