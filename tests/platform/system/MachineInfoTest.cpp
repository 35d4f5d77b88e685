#include "platform/system/MachineInfo.h"

#include <gtest/gtest.h>
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
