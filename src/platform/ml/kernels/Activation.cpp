#include "platform/ml/kernels/Activation.h"

#include "platform/ml/kernels/CpuFeatures.h"
#include "platform/ml/kernels/VectorExp.h"

#include <algorithm>
#include <cmath>
#include <limits>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace platform::ml::kernels {

namespace {

constexpr float kInverseSqrt2 = 0.70710678118654752f;

#if defined(__x86_64__)
// erf(x) from the complementary error function's Chebyshev fit (fractional
// error below 1.2e-7).
__attribute__((target("avx2,fma"))) inline __m256 erf8(__m256 x) {
    const __m256 signMask = _mm256_set1_ps(-0.0f);
    __m256 sign = _mm256_and_ps(x, signMask);
    __m256 z = _mm256_andnot_ps(signMask, x);
    __m256 t = _mm256_div_ps(_mm256_set1_ps(1.0f),
                             _mm256_fmadd_ps(_mm256_set1_ps(0.5f), z, _mm256_set1_ps(1.0f)));
    __m256 p = _mm256_set1_ps(0.17087277f);
    p = _mm256_fmadd_ps(p, t, _mm256_set1_ps(-0.82215223f));
    p = _mm256_fmadd_ps(p, t, _mm256_set1_ps(1.48851587f));
    p = _mm256_fmadd_ps(p, t, _mm256_set1_ps(-1.13520398f));
    p = _mm256_fmadd_ps(p, t, _mm256_set1_ps(0.27886807f));
    p = _mm256_fmadd_ps(p, t, _mm256_set1_ps(-0.18628806f));
    p = _mm256_fmadd_ps(p, t, _mm256_set1_ps(0.09678418f));
    p = _mm256_fmadd_ps(p, t, _mm256_set1_ps(0.37409196f));
    p = _mm256_fmadd_ps(p, t, _mm256_set1_ps(1.00002368f));
    p = _mm256_fmadd_ps(p, t, _mm256_set1_ps(-1.26551223f));
    __m256 exponent = _mm256_sub_ps(p, _mm256_mul_ps(z, z));
    __m256 erfc = _mm256_mul_ps(t, exp8(exponent));
    __m256 result = _mm256_sub_ps(_mm256_set1_ps(1.0f), erfc);
    return _mm256_or_ps(result, sign);
}

__attribute__((target("avx2,fma"))) void geluVector(float* x, size_t count) {
    size_t i = 0;
    const __m256 half = _mm256_set1_ps(0.5f);
    const __m256 one = _mm256_set1_ps(1.0f);
    const __m256 scale = _mm256_set1_ps(kInverseSqrt2);
    for (; i + 8 <= count; i += 8) {
        __m256 v = _mm256_loadu_ps(x + i);
        __m256 e = erf8(_mm256_mul_ps(v, scale));
        _mm256_storeu_ps(x + i, _mm256_mul_ps(_mm256_mul_ps(half, v), _mm256_add_ps(one, e)));
    }
    for (; i < count; ++i)
        x[i] = 0.5f * x[i] * (1.0f + std::erf(x[i] * kInverseSqrt2));
}

__attribute__((target("avx2,fma"))) void exponentialVector(const float* x, float* y, size_t count) {
    size_t i = 0;
    for (; i + 8 <= count; i += 8)
        _mm256_storeu_ps(y + i, exp8(_mm256_loadu_ps(x + i)));
    for (; i < count; ++i)
        y[i] = std::exp(x[i]);
}

// One softmax row: subtract the maximum, exponentiate, normalise.
__attribute__((target("avx2,fma"))) void softmaxRowVector(float* row, size_t n) {
    __m256 maximum8 = _mm256_set1_ps(-std::numeric_limits<float>::infinity());
    size_t i = 0;
    for (; i + 8 <= n; i += 8)
        maximum8 = _mm256_max_ps(maximum8, _mm256_loadu_ps(row + i));
    alignas(32) float lanes[8];
    _mm256_store_ps(lanes, maximum8);
    float maximum = *std::max_element(lanes, lanes + 8);
    for (; i < n; ++i)
        maximum = std::max(maximum, row[i]);
    if (maximum == -std::numeric_limits<float>::infinity()) {
        std::fill(row, row + n, 0.0f);
        return;
    }
    __m256 shift = _mm256_set1_ps(maximum);
    __m256 sum8 = _mm256_setzero_ps();
    for (i = 0; i + 8 <= n; i += 8) {
        __m256 e = exp8(_mm256_sub_ps(_mm256_loadu_ps(row + i), shift));
        _mm256_storeu_ps(row + i, e);
        sum8 = _mm256_add_ps(sum8, e);
    }
    _mm256_store_ps(lanes, sum8);
    float sum = 0;
    for (float lane : lanes)
        sum += lane;
    for (; i < n; ++i) {
        row[i] = std::exp(row[i] - maximum);
        sum += row[i];
    }
    __m256 inverse = _mm256_set1_ps(1.0f / sum);
    for (i = 0; i + 8 <= n; i += 8)
        _mm256_storeu_ps(row + i, _mm256_mul_ps(_mm256_loadu_ps(row + i), inverse));
    for (; i < n; ++i)
        row[i] *= 1.0f / sum;
}
#endif

void softmaxRowScalar(float* row, size_t n) {
    float maximum = -std::numeric_limits<float>::infinity();
    for (size_t i = 0; i < n; ++i)
        maximum = std::max(maximum, row[i]);
    if (maximum == -std::numeric_limits<float>::infinity()) {
        std::fill(row, row + n, 0.0f);
        return;
    }
    double sum = 0;
    for (size_t i = 0; i < n; ++i) {
        row[i] = std::exp(row[i] - maximum);
        sum += row[i];
    }
    float inverse = static_cast<float>(1.0 / sum);
    for (size_t i = 0; i < n; ++i)
        row[i] *= inverse;
}

} // namespace

void gelu(float* x, size_t count) {
#if defined(__x86_64__)
    if (hasAvx2Fma()) return geluVector(x, count);
#endif
    for (size_t i = 0; i < count; ++i)
        x[i] = 0.5f * x[i] * (1.0f + std::erf(x[i] * kInverseSqrt2));
}

void exponential(const float* x, float* y, size_t count) {
#if defined(__x86_64__)
    if (hasAvx2Fma()) return exponentialVector(x, y, count);
#endif
    for (size_t i = 0; i < count; ++i)
        y[i] = std::exp(x[i]);
}

void softmaxRows(float* x, size_t rows, size_t columns, size_t stride) {
    for (size_t r = 0; r < rows; ++r) {
        float* row = x + r * stride;
#if defined(__x86_64__)
        if (hasAvx2Fma()) {
            softmaxRowVector(row, columns);
            continue;
        }
#endif
        softmaxRowScalar(row, columns);
    }
}

} // namespace platform::ml::kernels
