#include "network/cgroup_memory.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>
#include <string_view>

namespace oscnet {
namespace {

// v1 reports "no limit" as the largest page-aligned signed 64-bit value; anything this large
// is no limit on any machine.
constexpr std::uint64_t kV1Unlimited = std::uint64_t{1} << 62;

// The file's text bounded to what the library needs: a number or a memory.stat.
constexpr std::size_t kMaxFileBytes = 1 << 16;

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
    text.remove_prefix(1);
  }
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
    text.remove_suffix(1);
  }
  return text;
}

// A decimal count of bytes, or nothing for anything else (empty, signs, overflow, "max").
std::optional<std::uint64_t> parse_bytes(std::string_view text) {
  text = trimmed(text);
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

std::optional<std::uint64_t> read_bytes(const FileText& read, const std::string& path) {
  const std::optional<std::string> text = read(path);
  if (!text) return std::nullopt;
  return parse_bytes(*text);
}

// The value of `key` in a memory.stat ("key value" lines); 0 when it is not there.
std::uint64_t stat_value(const FileText& read, const std::string& path, std::string_view key) {
  const std::optional<std::string> text = read(path);
  if (!text) return 0;
  std::istringstream lines(*text);
  std::string line;
  while (std::getline(lines, line)) {
    const std::string_view view(line);
    if (view.size() > key.size() && view.substr(0, key.size()) == key && view[key.size()] == ' ') {
      return parse_bytes(view.substr(key.size() + 1)).value_or(0);
    }
  }
  return 0;
}

// The names of one hierarchy's files and how its "no limit" is written.
struct Hierarchy {
  std::string root;
  const char* limit;
  const char* usage;
  const char* cache_key;
  bool v1;
};

// What the group at `group` ("/a/b") and its ancestors leave, the least of them.
std::uint64_t memory_left(const Hierarchy& files, std::string group, const FileText& read) {
  std::uint64_t least = kNoCgroupLimit;
  while (true) {
    while (!group.empty() && group.back() == '/') group.pop_back();
    const std::string directory = files.root + group + "/";
    const std::optional<std::uint64_t> limit = read_bytes(read, directory + files.limit);
    if (limit && !(files.v1 && *limit >= kV1Unlimited)) {
      std::uint64_t used = read_bytes(read, directory + files.usage).value_or(0);
      used -= std::min(used, stat_value(read, directory + "memory.stat", files.cache_key));
      least = std::min(least, *limit > used ? *limit - used : 0);
    }
    if (group.empty()) return least;
    group.erase(group.rfind('/'));
  }
}

// Whether a v1 line's comma-separated controllers include memory.
bool names_memory(std::string_view controllers) {
  while (!controllers.empty()) {
    const std::size_t comma = std::min(controllers.find(','), controllers.size());
    if (controllers.substr(0, comma) == "memory") return true;
    controllers.remove_prefix(std::min(comma + 1, controllers.size()));
  }
  return false;
}

std::optional<std::string> read_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::string text(kMaxFileBytes, '\0');
  file.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(file.gcount()));
  return text;
}

}  // namespace

std::uint64_t cgroup_memory_left(const std::string& self_cgroup, const FileText& read) {
  static const Hierarchy v2{"/sys/fs/cgroup", "memory.max", "memory.current", "file", false};
  static const Hierarchy v1{"/sys/fs/cgroup/memory", "memory.limit_in_bytes",
                            "memory.usage_in_bytes", "total_cache", true};
  std::uint64_t least = kNoCgroupLimit;
  std::istringstream lines(self_cgroup);
  std::string line;
  while (std::getline(lines, line)) {
    // "hierarchy-id:controllers:path"; the path may itself hold colons.
    const std::size_t first = line.find(':');
    const std::size_t second = first == std::string::npos ? first : line.find(':', first + 1);
    if (second == std::string::npos) continue;
    const std::string path = line.substr(second + 1);
    if (path.empty() || path.front() != '/' || path.find("/..") != std::string::npos) continue;
    const std::string_view id = std::string_view(line).substr(0, first);
    const std::string_view controllers =
        std::string_view(line).substr(first + 1, second - first - 1);
    if (id == "0" && controllers.empty()) {
      least = std::min(least, memory_left(v2, path, read));
    } else if (names_memory(controllers)) {
      least = std::min(least, memory_left(v1, path, read));
    }
  }
  return least;
}

std::uint64_t cgroup_memory_left() noexcept {
#if defined(__linux__)
  try {
    const std::optional<std::string> self = read_file("/proc/self/cgroup");
    return self ? cgroup_memory_left(*self, read_file) : kNoCgroupLimit;
  } catch (...) {
    // Without the memory to read a few small files, no network will be built anyway.
    return kNoCgroupLimit;
  }
#else
  return kNoCgroupLimit;
#endif
}

}  // namespace oscnet
