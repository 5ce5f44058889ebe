#pragma once

// How much memory the process's control groups leave it. A container's limit can be far below
// the machine's memory, and going over it gets the process killed rather than an allocation
// refused, so the build guard must know it beforehand.

#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>

namespace oscnet {

/// Returned when no control group limits the process.
constexpr std::uint64_t kNoCgroupLimit = std::numeric_limits<std::uint64_t>::max();

/// The whole text of the file at `path`, or nothing when it cannot be read.
using FileText = std::function<std::optional<std::string>(const std::string& path)>;

/// Bytes the process may still take before a control group's memory limit stops it, given the
/// text of /proc/self/cgroup and a reader for the files under /sys/fs/cgroup.
///
/// For the cgroup v2 line ("0::/a/b") and the v1 line of the memory controller
/// ("4:memory:/a/b"), the group and each of its ancestors up to the root of the hierarchy are
/// looked at, since a parent's limit binds its children: v2 reads memory.max ("max" is none),
/// memory.current and memory.stat under /sys/fs/cgroup/a/b; v1 reads memory.limit_in_bytes (2^62
/// and above is none), memory.usage_in_bytes and memory.stat under /sys/fs/cgroup/memory/a/b.
/// What a group leaves is its limit minus its usage, where the usage does not count the page
/// cache (memory.stat "file" in v2, "total_cache" in v1), which the kernel reclaims before it
/// kills anything. The result is the least left by any group, kNoCgroupLimit when none has a
/// limit. Missing files, unreadable numbers and lines of other controllers count as no limit.
std::uint64_t cgroup_memory_left(const std::string& self_cgroup, const FileText& read);

/// The same for the running process, from the real files; kNoCgroupLimit off Linux.
std::uint64_t cgroup_memory_left() noexcept;

}  // namespace oscnet
