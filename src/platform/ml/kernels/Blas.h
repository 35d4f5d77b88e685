#pragma once
// Matrix products on row-major float matrices. OpenBLAS computes every
// block single-threaded (but for half weights on AVX-512, see gemmWeights); large products are
// split into a grid of tiles of C over the runtime's own thread pool, so one thread budget covers
// both the matrix library and the runtime's loops, and idle threads sleep rather than spin when the
// machine is busy.

#include <cstddef>
#include <cstdint>

namespace platform::ml::kernels {

/// C[m×n] = alpha · op(A) · op(B) + beta · C, where op transposes when asked.
/// lda, ldb, ldc are the row strides of the matrices as stored.
void gemm(bool transposeA, bool transposeB, size_t m, size_t n, size_t k, float alpha,
          const float* a, size_t lda, const float* b, size_t ldb, float beta, float* c, size_t ldc);

/// The same on the calling thread only (for code that is already parallel).
void gemmSerial(bool transposeA, bool transposeB, size_t m, size_t n, size_t k, float alpha,
                const float* a, size_t lda, const float* b, size_t ldb, float beta, float* c,
                size_t ldc);

/// C[m×n] = f(A[m×k] · Bᵀ + beta · C (+ bias[n] on every row when given)),
/// B being a layer's weight [n×k] (row stride ldb) applied to many rows and
/// f GELU when `gelu`, else the identity. The bias and GELU are applied tile
/// by tile while the tile is in cache.
void gemmWeights(size_t m, size_t n, size_t k, const float* a, size_t lda, const float* b,
                 size_t ldb, float beta, float* c, size_t ldc, const float* bias = nullptr,
                 bool gelu = false);

/// The same with B half floats (beta 0 or 1): on AVX-512 processors each
/// tile is computed straight from the half rows (kernels/HalfGemm.h); else
/// each thread widens the rows of B its tile needs for the matrix library,
/// so the widened weight never exists whole.
void gemmWeights(size_t m, size_t n, size_t k, const float* a, size_t lda, const uint16_t* b,
                 size_t ldb, float beta, float* c, size_t ldc, const float* bias = nullptr,
                 bool gelu = false);

/// y[m] = alpha · A[m×n] · x + beta · y (A row-major with row stride lda).
void gemv(size_t m, size_t n, float alpha, const float* a, size_t lda, const float* x, float beta,
          float* y);

} // namespace platform::ml::kernels
