#pragma once
// The compute units each of the four model stages runs on.

#include "platform/ml/ComputeUnits.h"

namespace murmex {

struct ModelComputeOptions {
    platform::ml::ComputeUnits melCompute = platform::ml::ComputeUnits::cpuAndGPU;
    platform::ml::ComputeUnits audioEncoderCompute = platform::ml::ComputeUnits::cpuAndNeuralEngine;
    platform::ml::ComputeUnits textDecoderCompute = platform::ml::ComputeUnits::cpuAndNeuralEngine;
    platform::ml::ComputeUnits prefillCompute = platform::ml::ComputeUnits::cpuOnly;
};

} // namespace murmex
