#pragma once
// Facts about this machine and process, read from /proc and /sys.

#include <cstdint>
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

    /// Reads a kernel parameter by its dotted name ("kernel.ostype" reads
    /// /proc/sys/kernel/ostype): the text up to the first zero byte, without
    /// the trailing line feed; empty for an unknown name.
    static std::string kernelParameter(std::string_view dottedName);

    /// Parsers behind the readers above, exposed for their tests.
    static std::optional<uint64_t> parseStatmResidentPages(std::string_view statm);
    static std::optional<uint64_t> parseStatusResidentKilobytes(std::string_view status);
    static std::string parseCpuInfoField(std::string_view cpuinfo, std::string_view field);
};

} // namespace platform::system
