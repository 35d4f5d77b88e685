#pragma once
// Products of many rows with a half-precision weight, for processors with
// AVX-512: C[m×n] = A[m×k] · Bᵀ (+ C), B [n×k] half floats. Every element
// of C is a dot product of a row of A and a row of B, both contiguous in
// memory, so nothing is packed or widened ahead: a block of 6 rows of A
// meets 4 rows of B in 24 registers of sums, and B is widened as it is
// loaded. On wide-vector processors this runs well ahead of the matrix
// library's product on a widened copy.

#include <cstddef>
#include <cstdint>

namespace platform::ml::kernels {

/// Whether gemmHalfRows may run here (AVX-512 with byte and word masks).
bool canGemmHalfRows();

/// C = A · Bᵀ, added to C when `accumulate`; on the calling thread only.
/// lda, ldb, ldc are row strides in elements.
void gemmHalfRows(size_t m, size_t n, size_t k, const float* a, size_t lda, const uint16_t* b,
                  size_t ldb, bool accumulate, float* c, size_t ldc);

} // namespace platform::ml::kernels
