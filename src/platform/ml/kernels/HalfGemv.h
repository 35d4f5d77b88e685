#pragma once
// Matrix-vector product with half-precision weights, widened in registers.
// One-token decoding reads every weight once per token, so halving the bytes
// read halves the time of the memory-bound products.

#include <cstddef>
#include <cstdint>

namespace platform::ml::kernels {

/// y[m] = A[m×n] · x (+ y when `accumulate`), A row-major half floats with row stride lda.
/// Rows are split over the runtime's thread pool.
void gemvHalf(size_t m, size_t n, const uint16_t* a, size_t lda, const float* x, float* y,
              bool accumulate);

} // namespace platform::ml::kernels
