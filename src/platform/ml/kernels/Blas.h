#pragma once
// Matrix products on row-major float matrices, through OpenBLAS.

#include <cstddef>

namespace platform::ml::kernels {

/// C[m×n] = alpha · op(A) · op(B) + beta · C, where op transposes when asked.
/// lda, ldb, ldc are the row strides of the matrices as stored.
void gemm(bool transposeA, bool transposeB, size_t m, size_t n, size_t k, float alpha, const float* a, size_t lda,
          const float* b, size_t ldb, float beta, float* c, size_t ldc);

/// y[m] = alpha · A[m×n] · x + beta · y (A row-major with row stride lda).
void gemv(size_t m, size_t n, float alpha, const float* a, size_t lda, const float* x, float beta, float* y);

/// Sets how many threads the matrix library may use (at least 1).
void setBlasThreadCount(int count);
int blasThreadCount();

}  // namespace platform::ml::kernels
