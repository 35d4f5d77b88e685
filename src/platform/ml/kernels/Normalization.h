#pragma once
// Layer normalisation over the last dimension.

#include <cstddef>

namespace platform::ml::kernels {

/// For each of `rows` rows of `columns` values: y = (x − mean) / sqrt(var + eps) · gamma + beta.
/// x and y may be the same buffer. Row strides are `columns`.
void layerNorm(const float* x, float* y, size_t rows, size_t columns, const float* gamma,
               const float* beta, float epsilon = 1e-5f);

} // namespace platform::ml::kernels
