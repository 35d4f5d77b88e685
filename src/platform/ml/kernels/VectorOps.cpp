#include "platform/ml/kernels/VectorOps.h"

#include "platform/ml/kernels/Avx512.h"
#include "platform/ml/kernels/CpuFeatures.h"
#include "platform/system/Float16.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace platform::ml::kernels {

using platform::system::Float16;

namespace {

#if defined(__x86_64__)
__attribute__((target("avx2,fma"))) inline float horizontalSum(__m256 v) {
    __m128 low = _mm256_castps256_ps128(v);
    __m128 high = _mm256_extractf128_ps(v, 1);
    low = _mm_add_ps(low, high);
    __m128 shuffled = _mm_movehdup_ps(low);
    __m128 sums = _mm_add_ps(low, shuffled);
    shuffled = _mm_movehl_ps(shuffled, sums);
    return _mm_cvtss_f32(_mm_add_ss(sums, shuffled));
}

__attribute__((target("avx2,fma"))) float dotVector(const float* a, const float* b, size_t n) {
    __m256 s0 = _mm256_setzero_ps(), s1 = _mm256_setzero_ps();
    size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        s0 = _mm256_fmadd_ps(_mm256_loadu_ps(a + i), _mm256_loadu_ps(b + i), s0);
        s1 = _mm256_fmadd_ps(_mm256_loadu_ps(a + i + 8), _mm256_loadu_ps(b + i + 8), s1);
    }
    for (; i + 8 <= n; i += 8)
        s0 = _mm256_fmadd_ps(_mm256_loadu_ps(a + i), _mm256_loadu_ps(b + i), s0);
    float sum = horizontalSum(_mm256_add_ps(s0, s1));
    for (; i < n; ++i)
        sum += a[i] * b[i];
    return sum;
}

__attribute__((target("avx2,fma"))) void axpyVector(float a, const float* x, float* y, size_t n) {
    __m256 scale = _mm256_set1_ps(a);
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        _mm256_storeu_ps(y + i,
                         _mm256_fmadd_ps(scale, _mm256_loadu_ps(x + i), _mm256_loadu_ps(y + i)));
    }
    for (; i < n; ++i)
        y[i] += a * x[i];
}

__attribute__((target("avx2,fma,f16c"))) inline __m256 load8(const uint16_t* p) {
    return _mm256_cvtph_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

// Four independent sums, so that the additions do not wait on each other.
__attribute__((target("avx2,fma,f16c"))) float dotHalfVector(const float* a, const uint16_t* b,
                                                             size_t n) {
    __m256 s0 = _mm256_setzero_ps(), s1 = _mm256_setzero_ps(), s2 = _mm256_setzero_ps(),
           s3 = _mm256_setzero_ps();
    size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        s0 = _mm256_fmadd_ps(_mm256_loadu_ps(a + i), load8(b + i), s0);
        s1 = _mm256_fmadd_ps(_mm256_loadu_ps(a + i + 8), load8(b + i + 8), s1);
        s2 = _mm256_fmadd_ps(_mm256_loadu_ps(a + i + 16), load8(b + i + 16), s2);
        s3 = _mm256_fmadd_ps(_mm256_loadu_ps(a + i + 24), load8(b + i + 24), s3);
    }
    for (; i + 8 <= n; i += 8)
        s0 = _mm256_fmadd_ps(_mm256_loadu_ps(a + i), load8(b + i), s0);
    float sum = horizontalSum(_mm256_add_ps(_mm256_add_ps(s0, s1), _mm256_add_ps(s2, s3)));
    for (; i < n; ++i)
        sum += a[i] * Float16::toFloat(b[i]);
    return sum;
}

__attribute__((target("avx2,fma,f16c"))) void axpyHalfVector(float a, const uint16_t* x, float* y,
                                                             size_t n) {
    __m256 scale = _mm256_set1_ps(a);
    size_t i = 0;
    for (; i + 8 <= n; i += 8)
        _mm256_storeu_ps(y + i, _mm256_fmadd_ps(scale, load8(x + i), _mm256_loadu_ps(y + i)));
    for (; i < n; ++i)
        y[i] += a * Float16::toFloat(x[i]);
}

__attribute__((target("avx512f"))) float dotHalfWide(const float* a, const uint16_t* b, size_t n) {
    __m512 s0 = _mm512_setzero_ps(), s1 = _mm512_setzero_ps(), s2 = _mm512_setzero_ps(),
           s3 = _mm512_setzero_ps();
    size_t i = 0;
    for (; i + 64 <= n; i += 64) {
        s0 = _mm512_fmadd_ps(_mm512_loadu_ps(a + i), loadHalves16(b + i), s0);
        s1 = _mm512_fmadd_ps(_mm512_loadu_ps(a + i + 16), loadHalves16(b + i + 16), s1);
        s2 = _mm512_fmadd_ps(_mm512_loadu_ps(a + i + 32), loadHalves16(b + i + 32), s2);
        s3 = _mm512_fmadd_ps(_mm512_loadu_ps(a + i + 48), loadHalves16(b + i + 48), s3);
    }
    for (; i + 16 <= n; i += 16)
        s0 = _mm512_fmadd_ps(_mm512_loadu_ps(a + i), loadHalves16(b + i), s0);
    float sum = sum16(_mm512_add_ps(_mm512_add_ps(s0, s1), _mm512_add_ps(s2, s3)));
    for (; i < n; ++i)
        sum += a[i] * Float16::toFloat(b[i]);
    return sum;
}

__attribute__((target("avx512f"))) void axpyHalfWide(float a, const uint16_t* x, float* y,
                                                     size_t n) {
    __m512 scale = _mm512_set1_ps(a);
    size_t i = 0;
    for (; i + 16 <= n; i += 16)
        _mm512_storeu_ps(y + i,
                         _mm512_fmadd_ps(scale, loadHalves16(x + i), _mm512_loadu_ps(y + i)));
    for (; i < n; ++i)
        y[i] += a * Float16::toFloat(x[i]);
}
#endif

float dotHalfScalar(const float* a, const uint16_t* b, size_t n) {
    float sum = 0;
    for (size_t i = 0; i < n; ++i)
        sum += a[i] * Float16::toFloat(b[i]);
    return sum;
}

} // namespace

float dot(const float* a, const float* b, size_t n) {
#if defined(__x86_64__)
    if (hasAvx2Fma()) return dotVector(a, b, n);
#endif
    float sum = 0;
    for (size_t i = 0; i < n; ++i)
        sum += a[i] * b[i];
    return sum;
}

void axpy(float a, const float* x, float* y, size_t n) {
#if defined(__x86_64__)
    if (hasAvx2Fma()) return axpyVector(a, x, y, n);
#endif
    for (size_t i = 0; i < n; ++i)
        y[i] += a * x[i];
}

DotHalfFunction dotHalfKernel() {
#if defined(__x86_64__)
    switch (vectorLevel()) {
    case VectorLevel::avx512:
        return dotHalfWide;
    case VectorLevel::avx2:
        return dotHalfVector;
    case VectorLevel::scalar:
        break;
    }
#endif
    return dotHalfScalar;
}

float dotHalf(const float* a, const uint16_t* b, size_t n) {
    return dotHalfKernel()(a, b, n);
}

void axpyHalf(float a, const uint16_t* x, float* y, size_t n) {
#if defined(__x86_64__)
    switch (vectorLevel()) {
    case VectorLevel::avx512:
        return axpyHalfWide(a, x, y, n);
    case VectorLevel::avx2:
        return axpyHalfVector(a, x, y, n);
    case VectorLevel::scalar:
        break;
    }
#endif
    for (size_t i = 0; i < n; ++i)
        y[i] += a * Float16::toFloat(x[i]);
}

} // namespace platform::ml::kernels
