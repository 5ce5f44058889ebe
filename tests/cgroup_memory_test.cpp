// The control groups' memory limits, read from texts given in place of the files.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "network/cgroup_memory.h"

namespace oscnet {
namespace {

constexpr std::uint64_t kMiB = 1 << 20;

// A file system of a few files; remembers every path asked for.
struct Files : FileReader {
  std::map<std::string, std::string> texts;
  mutable std::vector<std::string> asked;

  std::optional<std::string_view> read(const char* path, char* buffer,
                                       std::size_t capacity) const override {
    asked.emplace_back(path);
    const auto found = texts.find(path);
    if (found == texts.end()) return std::nullopt;
    const std::size_t size = std::min(capacity, found->second.size());
    std::copy_n(found->second.data(), size, buffer);
    return std::string_view(buffer, size);
  }
  std::uint64_t left(const std::string& self_cgroup) const {
    return cgroup_memory_left(self_cgroup, *this);
  }
};

const std::string kV2 = "/sys/fs/cgroup";
const std::string kV1 = "/sys/fs/cgroup/memory";

TEST(CgroupMemory, V2LimitLessUsageLessPageCache) {
  Files files;
  files.texts[kV2 + "/app/memory.max"] = "1073741824\n";     // 1 GiB
  files.texts[kV2 + "/app/memory.current"] = "314572800\n";  // 300 MiB used
  files.texts[kV2 + "/app/memory.stat"] =
      "anon 209715200\nfile 104857600\nkernel 0\nfile_mapped 4096\n";  // 100 MiB of it cache
  EXPECT_EQ(files.left("0::/app\n"), 1024 * kMiB - 200 * kMiB);
}

TEST(CgroupMemory, V2MaxMeansNoLimit) {
  Files files;
  files.texts[kV2 + "/app/memory.max"] = "max\n";
  files.texts[kV2 + "/app/memory.current"] = "314572800\n";
  EXPECT_EQ(files.left("0::/app\n"), kNoCgroupLimit);
  // The root of a namespaced container is looked at too.
  EXPECT_NE(std::find(files.asked.begin(), files.asked.end(), kV2 + "/memory.max"),
            files.asked.end());
}

TEST(CgroupMemory, V2AncestorsBindTheirChildren) {
  Files files;
  files.texts[kV2 + "/a/b/c/memory.max"] = "max";
  files.texts[kV2 + "/a/b/memory.max"] = "2147483648";  // 2 GiB, 1.5 GiB of it used
  files.texts[kV2 + "/a/b/memory.current"] = "1610612736";
  files.texts[kV2 + "/a/memory.max"] = "4294967296";  // 4 GiB, unused
  EXPECT_EQ(files.left("0::/a/b/c\n"), 512 * kMiB);
  // A child's tighter limit wins over its parent's looser one.
  files.texts[kV2 + "/a/b/c/memory.max"] = "104857600";
  EXPECT_EQ(files.left("0::/a/b/c\n"), 100 * kMiB);
}

TEST(CgroupMemory, UsageOverTheLimitLeavesNothing) {
  Files files;
  files.texts[kV2 + "/memory.max"] = "1000";
  files.texts[kV2 + "/memory.current"] = "5000";
  EXPECT_EQ(files.left("0::/\n"), 0u);
}

TEST(CgroupMemory, V1MemoryControllerLine) {
  const std::string self =
      "12:pids:/docker/abc\n"
      "4:memory:/docker/abc\n"
      "3:cpu,cpuacct:/docker/abc\n"
      "0::/\n";
  Files files;
  files.texts[kV1 + "/docker/abc/memory.limit_in_bytes"] = "536870912\n";  // 512 MiB
  files.texts[kV1 + "/docker/abc/memory.usage_in_bytes"] = "209715200\n";  // 200 MiB
  files.texts[kV1 + "/docker/abc/memory.stat"] =
      "cache 1\nrss 2\ntotal_cache 52428800\ntotal_rss 157286400\n";  // 50 MiB cache
  EXPECT_EQ(files.left(self), 512 * kMiB - 150 * kMiB);
  // Other controllers' paths are never read.
  for (const std::string& path : files.asked) {
    EXPECT_TRUE(path.rfind(kV1 + "/", 0) == 0 || path.rfind(kV2 + "/memory.", 0) == 0) << path;
  }
}

TEST(CgroupMemory, V1HugeValueMeansNoLimit) {
  Files files;
  files.texts[kV1 + "/memory.limit_in_bytes"] = "9223372036854771712\n";
  files.texts[kV1 + "/memory.usage_in_bytes"] = "2123644928\n";
  EXPECT_EQ(files.left("4:memory:/\n"), kNoCgroupLimit);
  // Without a namespace the process's path is missing inside the container's mount, whose
  // root holds the container's own limit.
  files.texts[kV1 + "/memory.limit_in_bytes"] = "268435456\n";  // 256 MiB, 100 MiB used
  files.texts[kV1 + "/memory.usage_in_bytes"] = "104857600\n";
  EXPECT_EQ(files.left("4:memory:/kubepods/pod1/ctr\n"), 156 * kMiB);
}

TEST(CgroupMemory, V1ControllerAmongOthers) {
  Files files;
  files.texts[kV1 + "/x/memory.limit_in_bytes"] = "1048576";
  EXPECT_EQ(files.left("7:cpu,memory,blkio:/x\n"), kMiB);
  EXPECT_EQ(files.left("7:cpu,memorysomething:/x\n"), kNoCgroupLimit);
}

TEST(CgroupMemory, OverlongPathsAreSkippedAndTheirAncestorsStillRead) {
  Files files;
  const std::string deep = "/" + std::string(1500, 'd');
  files.texts[kV2 + "/memory.max"] = "8192";
  EXPECT_EQ(files.left("0::" + deep + "\n"), 8192u);
}

TEST(CgroupMemory, HybridTakesTheLeastOfBoth) {
  Files files;
  files.texts[kV1 + "/s/memory.limit_in_bytes"] = "3145728";
  files.texts[kV2 + "/s/memory.max"] = "2097152";
  EXPECT_EQ(files.left("4:memory:/s\n0::/s\n"), 2 * kMiB);
}

TEST(CgroupMemory, MissingOrOddContentsMeanNoLimit) {
  Files files;
  EXPECT_EQ(files.left(""), kNoCgroupLimit);
  EXPECT_EQ(files.left("0::/app\n"), kNoCgroupLimit);     // no files at all
  EXPECT_EQ(files.left("4:cpu:/app\n"), kNoCgroupLimit);  // no memory controller
  EXPECT_TRUE(files.asked.size() > 0);
  const std::vector<std::string> odd = {"",
                                        "\n",
                                        "-5",
                                        "12abc",
                                        "1.5e9",
                                        "0x10",
                                        "99999999999999999999999",
                                        "max max",
                                        std::string("12\0", 3)};
  for (const std::string& text : odd) {
    files.texts[kV2 + "/app/memory.max"] = text;
    EXPECT_EQ(files.left("0::/app\n"), kNoCgroupLimit) << '"' << text << '"';
  }
  // A readable limit with an unreadable usage or stat counts nothing used.
  files.texts[kV2 + "/app/memory.max"] = "4096";
  files.texts[kV2 + "/app/memory.current"] = "lots";
  files.texts[kV2 + "/app/memory.stat"] = "file\nfile -3\n";
  EXPECT_EQ(files.left("0::/app\n"), 4096u);
  // Lines that are not "id:controllers:/path" are skipped.
  for (const char* line : {"garbage\n", "0:/app\n", "0::app\n", "0::/../etc\n", ":::\n"}) {
    EXPECT_EQ(files.left(line), kNoCgroupLimit) << line;
  }
}

}  // namespace
}  // namespace oscnet
