#include "platform/ml/kernels/Blas.h"

#include "platform/ml/kernels/ThreadPool.h"

#include <algorithm>
#include <cblas.h>

namespace platform::ml::kernels {

namespace {

// OpenBLAS runs single-threaded; the pool provides the parallelism.
const bool blasIsSerial = [] {
    openblas_set_num_threads(1);
    return true;
}();

// Below this many multiply-adds a product is not worth splitting.
constexpr size_t kSplitThreshold = size_t{1} << 18;

} // namespace

void gemmSerial(bool transposeA, bool transposeB, size_t m, size_t n, size_t k, float alpha,
                const float* a, size_t lda, const float* b, size_t ldb, float beta, float* c,
                size_t ldc) {
    (void)blasIsSerial;
    if (m == 0 || n == 0) return;
    cblas_sgemm(CblasRowMajor, transposeA ? CblasTrans : CblasNoTrans,
                transposeB ? CblasTrans : CblasNoTrans, static_cast<blasint>(m),
                static_cast<blasint>(n), static_cast<blasint>(k), alpha, a,
                static_cast<blasint>(lda), b, static_cast<blasint>(ldb), beta, c,
                static_cast<blasint>(ldc));
}

void gemm(bool transposeA, bool transposeB, size_t m, size_t n, size_t k, float alpha,
          const float* a, size_t lda, const float* b, size_t ldb, float beta, float* c,
          size_t ldc) {
    if (m == 0 || n == 0) return;
    ThreadPool& pool = ThreadPool::shared();
    const size_t threads = static_cast<size_t>(pool.threadCount());
    if (threads <= 1 || m * n * k < kSplitThreshold) {
        return gemmSerial(transposeA, transposeB, m, n, k, alpha, a, lda, b, ldb, beta, c, ldc);
    }
    if (m >= threads * 32) {
        // Row blocks of A and C.
        pool.parallelFor(m, std::max<size_t>(32, m / (threads * 4)), [&](size_t begin, size_t end) {
            const float* aBlock = transposeA ? a + begin : a + begin * lda;
            gemmSerial(transposeA, transposeB, end - begin, n, k, alpha, aBlock, lda, b, ldb, beta,
                       c + begin * ldc, ldc);
        });
    } else {
        // Column blocks of B and C.
        pool.parallelFor(n, std::max<size_t>(64, n / (threads * 4)), [&](size_t begin, size_t end) {
            const float* bBlock = transposeB ? b + begin * ldb : b + begin;
            gemmSerial(transposeA, transposeB, m, end - begin, k, alpha, a, lda, bBlock, ldb, beta,
                       c + begin, ldc);
        });
    }
}

void gemv(size_t m, size_t n, float alpha, const float* a, size_t lda, const float* x, float beta,
          float* y) {
    if (m == 0) return;
    auto serial = [&](size_t begin, size_t end) {
        cblas_sgemv(CblasRowMajor, CblasNoTrans, static_cast<blasint>(end - begin),
                    static_cast<blasint>(n), alpha, a + begin * lda, static_cast<blasint>(lda), x,
                    1, beta, y + begin, 1);
    };
    ThreadPool& pool = ThreadPool::shared();
    const size_t threads = static_cast<size_t>(pool.threadCount());
    if (threads <= 1 || m * n < kSplitThreshold) return serial(0, m);
    pool.parallelFor(m, std::max<size_t>(64, m / (threads * 2)), serial);
}

} // namespace platform::ml::kernels
