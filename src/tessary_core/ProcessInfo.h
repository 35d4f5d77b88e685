#pragma once
// Facts about the machine, as the engine asks for them. Each text is read
// once, on first use, and kept.

#include <string>
#include <string_view>

namespace tessary {

class ProcessInfo {
public:
    ProcessInfo() = delete;

    /// The machine's model name; the device identifier of model-support lookups.
    static const std::string& hwModel();
    /// Processor brand name, core count, logical processor count, vendor and
    /// family, from /proc/cpuinfo (empty when the machine does not say).
    static const std::string& processor();
    static const std::string& cores();
    static const std::string& threads();
    static const std::string& vendor();
    static const std::string& family();

    /// A kernel parameter by its dotted name, as text; empty for an unknown name.
    static std::string stringFromSysctl(std::string_view name);
};

} // namespace tessary
