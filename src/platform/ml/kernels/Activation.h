#pragma once
// Element-wise and row-wise activations of the Whisper network.

#include <cstddef>

namespace platform::ml::kernels {

/// x ← x · Φ(x), the exact (error-function) GELU, to within 2e-7 absolute error per unit of x.
void gelu(float* x, size_t count);

/// Each of `rows` rows of `columns` values (row stride `stride`) becomes its
/// softmax. Rows whose entries are all -infinity become all zero.
void softmaxRows(float* x, size_t rows, size_t columns, size_t stride);

/// y ← e^x for each element (relative error below 2e-7; -inf gives 0).
void exponential(const float* x, float* y, size_t count);

} // namespace platform::ml::kernels
