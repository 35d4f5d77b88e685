#include "platform/system/MachineInfo.h"

#include <gtest/gtest.h>
#include <map>
#include <sched.h>
#include <thread>
#include <vector>

using platform::system::MachineInfo;

TEST(MachineInfo, ParsesProcFiles) {
    EXPECT_EQ(MachineInfo::parseStatmResidentPages("5000 1234 300 10 0 800 0\n"), 1234u);
    EXPECT_EQ(MachineInfo::parseStatmResidentPages("garbage"), std::nullopt);
    EXPECT_EQ(
        MachineInfo::parseStatusResidentKilobytes("Name:\tx\nVmRSS:\t   20480 kB\nThreads: 1\n"),
        20480u);
    EXPECT_EQ(MachineInfo::parseStatusResidentKilobytes("Name:\tx\n"), std::nullopt);
    const char* cpuinfo =
        "processor\t: 0\nvendor_id\t: GenuineExample\nmodel name\t: Example CPU @ 3.00GHz\n";
    EXPECT_EQ(MachineInfo::parseCpuInfoField(cpuinfo, "model name"), "Example CPU @ 3.00GHz");
    EXPECT_EQ(MachineInfo::parseCpuInfoField(cpuinfo, "vendor_id"), "GenuineExample");
    EXPECT_EQ(MachineInfo::parseCpuInfoField(cpuinfo, "model"), "");
}

TEST(MachineInfo, ReadsThisMachine) {
    auto before = MachineInfo::residentMemoryBytes();
    ASSERT_TRUE(before);
    std::vector<char> block(64 << 20, 1); // touch 64 MiB
    auto after = MachineInfo::residentMemoryBytes();
    ASSERT_TRUE(after);
    EXPECT_GT(*after, *before + (32u << 20));
    EXPECT_FALSE(MachineInfo::deviceModelName().empty());
    EXPECT_GE(MachineInfo::activeProcessorCount(), 1);
    EXPECT_EQ(MachineInfo::kernelParameter("kernel.ostype"), "Linux");
    EXPECT_EQ(MachineInfo::kernelParameter("hw.model"), "");
    EXPECT_EQ(MachineInfo::kernelParameter("kernel/../../etc/passwd"), "");
    (void)block.data();
}

namespace {

// Control files of a made-up machine, by path.
MachineInfo::FileReader filesOf(std::map<std::string, std::string> files) {
    return [files = std::move(files)](const std::string& path) -> std::optional<std::string> {
        auto it = files.find(path);
        if (it == files.end()) return std::nullopt;
        return it->second;
    };
}

} // namespace

TEST(MachineInfo, CgroupQuotaIsTheTightestOverTheProcessAndItsAncestors) {
    const char* unifiedMount =
        "25 1 0:22 / / rw - ext4 /dev/vda rw\n"
        "31 25 0:26 / /sys/fs/cgroup rw,nosuid - cgroup2 cgroup2 rw,nsdelegate\n";
    const char* v1Mounts =
        "32 31 0:28 / /sys/fs/cgroup/cpu,cpuacct rw - cgroup cgroup rw,cpu,cpuacct\n"
        "33 31 0:29 / /sys/fs/cgroup/cpuset rw - cgroup cgroup rw,cpuset\n";
    struct Case {
        const char* what;
        std::string procCgroup;
        std::string mountInfo;
        std::map<std::string, std::string> files;
        std::optional<double> limit;
    };
    const std::vector<Case> cases = {
        {"v2 quota on the process's own group",
         "0::/app.slice/run.scope\n",
         unifiedMount,
         {{"/sys/fs/cgroup/app.slice/run.scope/cpu.max", "250000 100000\n"},
          {"/sys/fs/cgroup/app.slice/cpu.max", "max 100000\n"}},
         2.5},
        {"v2 quota on an ancestor is tighter",
         "0::/app.slice/run.scope\n",
         unifiedMount,
         {{"/sys/fs/cgroup/app.slice/run.scope/cpu.max", "400000 100000\n"},
          {"/sys/fs/cgroup/app.slice/cpu.max", "150000 100000\n"}},
         1.5},
        {"v2 without a quota",
         "0::/user.slice\n",
         unifiedMount,
         {{"/sys/fs/cgroup/user.slice/cpu.max", "max 100000\n"}},
         std::nullopt},
        {"v2 at the root of a namespaced container",
         "0::/\n",
         unifiedMount,
         {{"/sys/fs/cgroup/cpu.max", "50000 100000\n"}},
         0.5},
        {"v1 cpu controller shared with cpuacct",
         "5:cpuset:/\n4:cpu,cpuacct:/docker/abc\n1:name=systemd:/docker/abc\n",
         std::string(unifiedMount) + v1Mounts,
         {{"/sys/fs/cgroup/cpu,cpuacct/docker/abc/cpu.cfs_quota_us", "300000\n"},
          {"/sys/fs/cgroup/cpu,cpuacct/docker/abc/cpu.cfs_period_us", "100000\n"},
          {"/sys/fs/cgroup/cpu,cpuacct/docker/cpu.cfs_quota_us", "-1\n"},
          {"/sys/fs/cgroup/cpu,cpuacct/docker/cpu.cfs_period_us", "100000\n"}},
         3.0},
        {"v1 unlimited",
         "4:cpu,cpuacct:/\n",
         v1Mounts,
         {{"/sys/fs/cgroup/cpu,cpuacct/cpu.cfs_quota_us", "-1\n"},
          {"/sys/fs/cgroup/cpu,cpuacct/cpu.cfs_period_us", "100000\n"}},
         std::nullopt},
        {"v1 mount showing only the container's part, with an escaped blank",
         "4:cpu:/docker/abc\n",
         "40 31 0:28 /docker/abc /sys/fs/my\\040cgroup rw - cgroup cgroup rw,cpu\n",
         {{"/sys/fs/my cgroup/cpu.cfs_quota_us", "100000\n"},
          {"/sys/fs/my cgroup/cpu.cfs_period_us", "50000\n"}},
         2.0},
        {"malformed control files are ignored",
         "0::/a\n",
         unifiedMount,
         {{"/sys/fs/cgroup/a/cpu.max", "lots\n"}},
         std::nullopt},
        {"no cgroup mounted", "0::/a\n", "25 1 0:22 / / rw - ext4 /dev/vda rw\n", {}, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MachineInfo::cgroupCpuLimit(c.procCgroup, c.mountInfo, filesOf(c.files)), c.limit)
            << c.what;
    }
}

TEST(MachineInfo, AvailableProcessorsFollowTheAffinityMask) {
    const int all = MachineInfo::availableProcessorCount();
    EXPECT_GE(all, 1);
    EXPECT_LE(all, MachineInfo::activeProcessorCount());
    // The affinity mask belongs to the calling thread: narrow a new thread's to one CPU.
    int narrowed = 0;
    std::thread([&] {
        cpu_set_t set;
        CPU_ZERO(&set);
        ASSERT_EQ(::sched_getaffinity(0, sizeof set, &set), 0);
        int first = 0;
        while (!CPU_ISSET(first, &set))
            ++first;
        CPU_ZERO(&set);
        CPU_SET(first, &set);
        ASSERT_EQ(::sched_setaffinity(0, sizeof set, &set), 0);
        narrowed = MachineInfo::availableProcessorCount();
    }).join();
    EXPECT_EQ(narrowed, 1);
}
