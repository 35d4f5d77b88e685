#pragma once
// Facts about this machine and process, read from /proc and /sys.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace platform::system {

class MachineInfo {
public:
    /// Resident memory of this process in bytes (/proc/self/statm, else the
    /// VmRSS line of /proc/self/status); nothing when neither can be read.
    static std::optional<uint64_t> residentMemoryBytes();

    /// The machine's model name: the firmware's product name
    /// (/sys/devices/virtual/dmi/id/product_name) when it names something,
    /// else the processor's model name from /proc/cpuinfo, else "unknown".
    static std::string deviceModelName();

    /// The value of the first "<field>\t: <value>" line of /proc/cpuinfo
    /// ("model name", "vendor_id", "cpu cores", ...); empty when absent.
    static std::string cpuInfoField(std::string_view field);

    /// Processors currently online; at least 1.
    static int activeProcessorCount();

    /// Processors this process may keep busy: the CPUs of its affinity mask
    /// (sched_getaffinity, narrowed by taskset and container cpusets), capped
    /// by the CPU bandwidth quota of its cgroup and every ancestor (cgroup v2
    /// "cpu.max", v1 "cpu.cfs_quota_us" over "cpu.cfs_period_us"), a
    /// fractional quota rounded up; at least 1. The default width of thread pools.
    static int availableProcessorCount();

    /// Reads a kernel parameter by its dotted name ("kernel.ostype" reads
    /// /proc/sys/kernel/ostype): the text up to the first zero byte, without
    /// the trailing line feed; empty for an unknown name.
    static std::string kernelParameter(std::string_view dottedName);

    /// Parsers behind the readers above, exposed for their tests.
    static std::optional<uint64_t> parseStatmResidentPages(std::string_view statm);
    static std::optional<uint64_t> parseStatusResidentKilobytes(std::string_view status);
    static std::string parseCpuInfoField(std::string_view cpuinfo, std::string_view field);

    /// Reads a whole small file; nothing when it cannot be read.
    using FileReader = std::function<std::optional<std::string>(const std::string& path)>;
    /// The tightest CPU quota, in processors, over this process's cgroup and
    /// its ancestors, found from the texts of /proc/self/cgroup and
    /// /proc/self/mountinfo and the control files `read` returns; nothing
    /// when no quota applies.
    static std::optional<double> cgroupCpuLimit(std::string_view procCgroup,
                                                std::string_view mountInfo, const FileReader& read);
};

} // namespace platform::system
