#pragma once
// Which processors a model may run on. On this runtime every choice runs on
// the CPU; the choice is recorded so that callers and logs can report it.

#include <cstdint>

namespace platform::ml {

enum class ComputeUnits : int32_t {
    cpuOnly = 0,
    cpuAndGPU = 1,
    all = 2,
    cpuAndNeuralEngine = 3,
};

} // namespace platform::ml
