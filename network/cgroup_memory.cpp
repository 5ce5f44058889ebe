#include "network/cgroup_memory.h"

#include <algorithm>
#include <cstdio>

#if defined(__linux__)
#include <fcntl.h>
#include <unistd.h>
#endif

namespace oscnet {
namespace {

// v1 reports "no limit" as the largest page-aligned signed 64-bit value; anything this large
// is no limit on any machine.
constexpr std::uint64_t kV1Unlimited = std::uint64_t{1} << 62;

constexpr std::size_t kPathBytes = 1024;
constexpr std::size_t kNumberBytes = 64;
// memory.stat lists the cache among its first lines; the rest may be cut off.
constexpr std::size_t kStatBytes = 4096;
constexpr std::size_t kSelfCgroupBytes = 4096;

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && is_space(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_space(text.back())) text.remove_suffix(1);
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

// The line at the front of `text`, removed from it.
std::string_view next_line(std::string_view& text) {
  const std::size_t end = std::min(text.find('\n'), text.size());
  const std::string_view line = text.substr(0, end);
  text.remove_prefix(std::min(end + 1, text.size()));
  return line;
}

// The names of one hierarchy's files and how it writes "no limit".
struct Hierarchy {
  const char* root;
  const char* limit;
  const char* usage;
  std::string_view cache_key;
  bool v1;
};

class Group {
 public:
  Group(const Hierarchy& files, std::string_view path, const FileReader& reader)
      : files_(files), path_(path), reader_(reader) {}

  // What the group and its ancestors leave, the least of them.
  std::uint64_t memory_left() {
    std::uint64_t least = kNoCgroupLimit;
    while (true) {
      while (!path_.empty() && path_.back() == '/') path_.remove_suffix(1);
      const std::optional<std::uint64_t> limit = number(files_.limit);
      if (limit && !(files_.v1 && *limit >= kV1Unlimited)) {
        std::uint64_t used = number(files_.usage).value_or(0);
        used -= std::min(used, cache());
        least = std::min(least, *limit > used ? *limit - used : 0);
      }
      if (path_.empty()) return least;
      path_.remove_suffix(path_.size() - path_.rfind('/'));
    }
  }

 private:
  std::optional<std::string_view> read(const char* name, char* buffer, std::size_t capacity) {
    char path[kPathBytes];
    const int length = std::snprintf(path, sizeof path, "%s%.*s/%s", files_.root,
                                     static_cast<int>(path_.size()), path_.data(), name);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof path) return std::nullopt;
    return reader_.read(path, buffer, capacity);
  }

  std::optional<std::uint64_t> number(const char* name) {
    char buffer[kNumberBytes];
    const std::optional<std::string_view> text = read(name, buffer, sizeof buffer);
    if (!text) return std::nullopt;
    return parse_bytes(*text);
  }

  // The page cache from memory.stat ("key value" lines); 0 when it is not there.
  std::uint64_t cache() {
    char buffer[kStatBytes];
    std::optional<std::string_view> text = read("memory.stat", buffer, sizeof buffer);
    const std::string_view key = files_.cache_key;
    while (text && !text->empty()) {
      const std::string_view line = next_line(*text);
      if (line.size() > key.size() && line.substr(0, key.size()) == key &&
          line[key.size()] == ' ') {
        return parse_bytes(line.substr(key.size() + 1)).value_or(0);
      }
    }
    return 0;
  }

  const Hierarchy& files_;
  std::string_view path_;
  const FileReader& reader_;
};

// Whether a v1 line's comma-separated controllers include memory.
bool names_memory(std::string_view controllers) {
  while (!controllers.empty()) {
    const std::size_t comma = std::min(controllers.find(','), controllers.size());
    if (controllers.substr(0, comma) == "memory") return true;
    controllers.remove_prefix(std::min(comma + 1, controllers.size()));
  }
  return false;
}

#if defined(__linux__)
class SystemFiles : public FileReader {
 public:
  std::optional<std::string_view> read(const char* path, char* buffer,
                                       std::size_t capacity) const override {
    const int descriptor = ::open(path, O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) return std::nullopt;
    std::size_t size = 0;
    while (size < capacity) {
      const ssize_t got = ::read(descriptor, buffer + size, capacity - size);
      if (got <= 0) break;
      size += static_cast<std::size_t>(got);
    }
    ::close(descriptor);
    return std::string_view(buffer, size);
  }
};
#endif

}  // namespace

std::uint64_t cgroup_memory_left(std::string_view self_cgroup, const FileReader& files) {
  static const Hierarchy v2{"/sys/fs/cgroup", "memory.max", "memory.current", "file", false};
  static const Hierarchy v1{"/sys/fs/cgroup/memory", "memory.limit_in_bytes",
                            "memory.usage_in_bytes", "total_cache", true};
  std::uint64_t least = kNoCgroupLimit;
  while (!self_cgroup.empty()) {
    // "hierarchy-id:controllers:path"; the path may itself hold colons.
    const std::string_view line = next_line(self_cgroup);
    const std::size_t first = line.find(':');
    const std::size_t second = first == std::string_view::npos ? first : line.find(':', first + 1);
    if (second == std::string_view::npos) continue;
    const std::string_view path = line.substr(second + 1);
    if (path.empty() || path.front() != '/' || path.find("/..") != std::string_view::npos) {
      continue;
    }
    const std::string_view id = line.substr(0, first);
    const std::string_view controllers = line.substr(first + 1, second - first - 1);
    if (id == "0" && controllers.empty()) {
      least = std::min(least, Group(v2, path, files).memory_left());
    } else if (names_memory(controllers)) {
      least = std::min(least, Group(v1, path, files).memory_left());
    }
  }
  return least;
}

std::uint64_t cgroup_memory_left() noexcept {
#if defined(__linux__)
  const SystemFiles files;
  char buffer[kSelfCgroupBytes];
  const std::optional<std::string_view> self =
      files.read("/proc/self/cgroup", buffer, sizeof buffer);
  return self ? cgroup_memory_left(*self, files) : kNoCgroupLimit;
#else
  return kNoCgroupLimit;
#endif
}

}  // namespace oscnet
