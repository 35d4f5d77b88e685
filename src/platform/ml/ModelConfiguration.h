#pragma once
// Settings for loading a model.

#include "platform/ml/ComputeUnits.h"

namespace platform::ml {

struct ModelConfiguration {
    ComputeUnits computeUnits = ComputeUnits::all;
};

} // namespace platform::ml
