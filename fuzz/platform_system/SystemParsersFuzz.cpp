// Feeds arbitrary bytes to the text readers of the system layer: /proc file
// parsers, identifier parsing, glob matching and number text.

#include "platform/system/Glob.h"
#include "platform/system/MachineInfo.h"
#include "platform/system/Uuid.h"
#include "platform/text/NumberText.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    using platform::system::MachineInfo;
    (void)MachineInfo::parseStatmResidentPages(text);
    (void)MachineInfo::parseStatusResidentKilobytes(text);
    (void)MachineInfo::parseCpuInfoField(text, "model name");

    if (auto id = platform::system::Uuid::parse(text)) {
        if (platform::system::Uuid::parse(id->uuidString()) != id) std::abort();
    }

    size_t split = size / 2;
    (void)platform::system::globMatches(text.substr(0, split), text.substr(split));

    if (size >= sizeof(double)) {
        double value;
        std::memcpy(&value, data, sizeof value);
        std::string printed = platform::text::shortestText(value);
        if (std::isfinite(value) && std::strtod(printed.c_str(), nullptr) != value) std::abort();
        float single;
        std::memcpy(&single, data, sizeof single);
        printed = platform::text::shortestText(single);
        if (std::isfinite(single) && std::strtof(printed.c_str(), nullptr) != single) std::abort();
    }
    return 0;
}
