#include "platform/ml/kernels/HalfGemv.h"

#include "platform/ml/kernels/CpuFeatures.h"
#include "platform/ml/kernels/ThreadPool.h"
#include "platform/ml/kernels/VectorOps.h"

#include <algorithm>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace platform::ml::kernels {

namespace {

#if defined(__x86_64__)
__attribute__((target("avx2,fma,f16c"))) inline float sum8(__m256 v) {
    __m128 low = _mm_add_ps(_mm256_castps256_ps128(v), _mm256_extractf128_ps(v, 1));
    low = _mm_add_ps(low, _mm_movehl_ps(low, low));
    low = _mm_add_ss(low, _mm_movehdup_ps(low));
    return _mm_cvtss_f32(low);
}

// Four rows at a time share each load of x.
__attribute__((target("avx2,fma,f16c"))) void rowsVector(size_t begin, size_t end, size_t n,
                                                         const uint16_t* a, size_t lda,
                                                         const float* x, float* y,
                                                         bool accumulate) {
    size_t r = begin;
    for (; r + 4 <= end; r += 4) {
        const uint16_t* r0 = a + r * lda;
        const uint16_t* r1 = r0 + lda;
        const uint16_t* r2 = r1 + lda;
        const uint16_t* r3 = r2 + lda;
        __m256 s0 = _mm256_setzero_ps(), s1 = _mm256_setzero_ps(), s2 = _mm256_setzero_ps(),
               s3 = _mm256_setzero_ps();
        size_t j = 0;
        for (; j + 8 <= n; j += 8) {
            __m256 xv = _mm256_loadu_ps(x + j);
            s0 = _mm256_fmadd_ps(
                _mm256_cvtph_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(r0 + j))), xv, s0);
            s1 = _mm256_fmadd_ps(
                _mm256_cvtph_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(r1 + j))), xv, s1);
            s2 = _mm256_fmadd_ps(
                _mm256_cvtph_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(r2 + j))), xv, s2);
            s3 = _mm256_fmadd_ps(
                _mm256_cvtph_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(r3 + j))), xv, s3);
        }
        float t[4] = {sum8(s0), sum8(s1), sum8(s2), sum8(s3)};
        const uint16_t* rows[4] = {r0, r1, r2, r3};
        for (size_t q = 0; q < 4; ++q) {
            if (j < n) t[q] += dotHalf(x + j, rows[q] + j, n - j);
            y[r + q] = accumulate ? y[r + q] + t[q] : t[q];
        }
    }
    for (; r < end; ++r) {
        float t = dotHalf(x, a + r * lda, n);
        y[r] = accumulate ? y[r] + t : t;
    }
}
#endif

void rowsScalar(size_t begin, size_t end, size_t n, const uint16_t* a, size_t lda, const float* x,
                float* y, bool accumulate) {
    for (size_t r = begin; r < end; ++r) {
        float t = dotHalf(x, a + r * lda, n);
        y[r] = accumulate ? y[r] + t : t;
    }
}

} // namespace

void gemvHalf(size_t m, size_t n, const uint16_t* a, size_t lda, const float* x, float* y,
              bool accumulate) {
    auto rows = [&](size_t begin, size_t end) {
#if defined(__x86_64__)
        if (hasAvx2Fma()) return rowsVector(begin, end, n, a, lda, x, y, accumulate);
#endif
        rowsScalar(begin, end, n, a, lda, x, y, accumulate);
    };
    ThreadPool& pool = ThreadPool::shared();
    const size_t threads = static_cast<size_t>(pool.threadCount());
    if (threads <= 1 || m * n < (size_t{1} << 17)) return rows(0, m);
    // Chunks are multiples of four rows so the vector loop stays on its fast path.
    size_t grain = std::max<size_t>(64, (m / (threads * 2) + 3) / 4 * 4);
    pool.parallelFor((m + 3) / 4, grain / 4,
                     [&](size_t begin, size_t end) { rows(begin * 4, std::min(m, end * 4)); });
}

} // namespace platform::ml::kernels
