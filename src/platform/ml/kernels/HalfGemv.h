#pragma once
// Matrix-vector products with half-precision weights, widened in registers.
// One-token decoding reads every weight once per token, so the products are
// bound by how fast the weights stream in: each thread reads one contiguous
// run of rows front to back (a single stream the hardware prefetcher
// follows), and half floats halve the bytes to read.

#include <cstddef>
#include <cstdint>
#include <span>

namespace platform::ml::kernels {

/// One product y = A·x (+ bias), optionally through GELU, with A [rows,
/// columns] half floats of row stride `stride`. The result is added to y
/// when `accumulate`, else stored in y, or, when `halfY` is set instead of
/// y, stored rounded to half precision.
struct HalfProduct {
    const uint16_t* weights = nullptr;
    size_t rows = 0;
    size_t columns = 0;
    size_t stride = 0;
    const float* x = nullptr;
    float* y = nullptr;
    uint16_t* halfY = nullptr;
    const float* bias = nullptr;
    bool accumulate = false;
    bool gelu = false;
};

/// Runs the products in one loop over the runtime's thread pool (their rows
/// split between the threads), so that small products of one input share a
/// single hand-off.
void gemvHalf(std::span<const HalfProduct> products);

/// y[m] = A[m×n] · x (+ y when `accumulate`), A row-major half floats with row stride lda.
void gemvHalf(size_t m, size_t n, const uint16_t* a, size_t lda, const float* x, float* y,
              bool accumulate);

} // namespace platform::ml::kernels
