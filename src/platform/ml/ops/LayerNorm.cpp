#include "platform/ml/ops/LayerNorm.h"

#include "platform/ml/WeightFile.h"
#include "platform/ml/kernels/Normalization.h"

namespace platform::ml {

LayerNorm LayerNorm::load(const WeightFile& file, const std::string& name, int64_t width) {
    return LayerNorm{file.floats(name + ".weight", {width}), file.floats(name + ".bias", {width})};
}

void LayerNorm::forward(const float* x, float* y, size_t rows) const {
    kernels::layerNorm(x, y, rows, gamma.size(), gamma.data(), beta.data());
}

} // namespace platform::ml
