#include "platform/ml/kernels/Blas.h"

#include <cblas.h>

namespace platform::ml::kernels {

void gemm(bool transposeA, bool transposeB, size_t m, size_t n, size_t k, float alpha, const float* a, size_t lda,
          const float* b, size_t ldb, float beta, float* c, size_t ldc) {
    if (m == 0 || n == 0) return;
    cblas_sgemm(CblasRowMajor, transposeA ? CblasTrans : CblasNoTrans, transposeB ? CblasTrans : CblasNoTrans,
                static_cast<blasint>(m), static_cast<blasint>(n), static_cast<blasint>(k), alpha, a,
                static_cast<blasint>(lda), b, static_cast<blasint>(ldb), beta, c, static_cast<blasint>(ldc));
}

void gemv(size_t m, size_t n, float alpha, const float* a, size_t lda, const float* x, float beta, float* y) {
    if (m == 0) return;
    cblas_sgemv(CblasRowMajor, CblasNoTrans, static_cast<blasint>(m), static_cast<blasint>(n), alpha, a,
                static_cast<blasint>(lda), x, 1, beta, y, 1);
}

void setBlasThreadCount(int count) {
    openblas_set_num_threads(count < 1 ? 1 : count);
}

int blasThreadCount() {
    return openblas_get_num_threads();
}

}  // namespace platform::ml::kernels
