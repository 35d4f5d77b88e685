#include "tessary_core/ProcessInfo.h"

#include "platform/system/MachineInfo.h"

namespace tessary {

using platform::system::MachineInfo;

const std::string& ProcessInfo::hwModel() {
    static const std::string value = MachineInfo::deviceModelName();
    return value;
}

const std::string& ProcessInfo::processor() {
    static const std::string value = MachineInfo::cpuInfoField("model name");
    return value;
}

const std::string& ProcessInfo::cores() {
    static const std::string value = MachineInfo::cpuInfoField("cpu cores");
    return value;
}

const std::string& ProcessInfo::threads() {
    static const std::string value = [] {
        std::string siblings = MachineInfo::cpuInfoField("siblings");
        return siblings.empty() ? std::to_string(MachineInfo::activeProcessorCount()) : siblings;
    }();
    return value;
}

const std::string& ProcessInfo::vendor() {
    static const std::string value = MachineInfo::cpuInfoField("vendor_id");
    return value;
}

const std::string& ProcessInfo::family() {
    static const std::string value = MachineInfo::cpuInfoField("cpu family");
    return value;
}

std::string ProcessInfo::stringFromSysctl(std::string_view name) {
    return MachineInfo::kernelParameter(name);
}

} // namespace tessary
