#pragma once
// One runnable network behind a Model: takes checked, contiguous inputs by
// feature name and produces its outputs. Implementations are safe to run
// from several threads at once.

#include "platform/ml/MultiArray.h"
#include "platform/ml/PredictionOptions.h"

#include <map>
#include <string>

namespace platform::ml {

class Stage {
public:
    virtual ~Stage() = default;
    virtual std::map<std::string, MultiArray> run(const std::map<std::string, MultiArray>& inputs,
                                                  const PredictionOptions& options) const = 0;
};

} // namespace platform::ml
