#pragma once

#include "platform/system/MachineInfo.h"

namespace tessary {

class ConcurrencyUtilities {
public:
    ConcurrencyUtilities() = delete;
    /// Processors currently online, read each time; at least 1.
    static int activeProcessorCount() {
        return platform::system::MachineInfo::activeProcessorCount();
    }
};

} // namespace tessary
