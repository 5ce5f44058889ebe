#pragma once

// How much memory the process's control groups leave it. A container's limit can be far below
// the machine's memory, and going over it gets the process killed rather than an allocation
// refused, so the build guard must know it beforehand.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>

namespace oscnet {

/// Returned when no control group limits the process.
constexpr std::uint64_t kNoCgroupLimit = std::numeric_limits<std::uint64_t>::max();

/// Reads small files into a buffer of the caller's. Nothing here allocates: the build guard
/// runs before the build, and must neither fail for want of memory nor count as the build's.
class FileReader {
 public:
  virtual ~FileReader() = default;
  /// The start of the file at `path`, at most `capacity` bytes of it, in `buffer`; nothing
  /// when it cannot be read.
  virtual std::optional<std::string_view> read(const char* path, char* buffer,
                                               std::size_t capacity) const = 0;
};

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
/// limit. Missing files, unreadable numbers, paths over 1000 bytes and lines of other
/// controllers count as no limit.
std::uint64_t cgroup_memory_left(std::string_view self_cgroup, const FileReader& files);

/// The same for the running process, from the real files; kNoCgroupLimit off Linux.
std::uint64_t cgroup_memory_left() noexcept;

}  // namespace oscnet
