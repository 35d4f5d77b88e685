#include "murmex/core/text/LogitsMath.h"

#include "platform/ml/kernels/CpuFeatures.h"
#include "platform/ml/kernels/VectorExp.h"
#include "platform/system/Float16.h"

#include <cmath>
#include <limits>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace murmex::logits_math {
namespace {

using platform::system::Float16;

constexpr float kNegativeInfinity = -std::numeric_limits<float>::infinity();

float scalarAt(Row row, size_t i) {
    return row.half ? Float16::toFloat(row.half[i]) : row.single[i];
}

float scalarMaximum(Row row) {
    float best = kNegativeInfinity;
    for (size_t i = 0; i < row.size; ++i) {
        const float v = scalarAt(row, i);
        if (v > best) best = v;
    }
    return best;
}

size_t scalarFirstIndexOf(Row row, size_t from, float value) {
    for (size_t i = from; i < row.size; ++i) {
        if (scalarAt(row, i) == value) return i;
    }
    return row.size;
}

size_t scalarFirstIndexAbove(Row row, size_t from, float value) {
    for (size_t i = from; i < row.size; ++i) {
        if (scalarAt(row, i) > value) return i;
    }
    return row.size;
}

double scalarSumOfExponentials(Row row, size_t from, float maximum) {
    double sum = 0;
    for (size_t i = from; i < row.size; ++i) {
        const float v = scalarAt(row, i);
        if (v == v) sum += static_cast<double>(std::exp(v - maximum));
    }
    return sum;
}

#if defined(__x86_64__)
#define MURMEX_VECTOR __attribute__((target("avx2,fma,f16c")))

MURMEX_VECTOR inline __m256 load8(Row row, size_t i) {
    if (row.half)
        return _mm256_cvtph_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row.half + i)));
    return _mm256_loadu_ps(row.single + i);
}

MURMEX_VECTOR float horizontalMaximum(__m256 v) {
    __m128 m = _mm_max_ps(_mm256_castps256_ps128(v), _mm256_extractf128_ps(v, 1));
    m = _mm_max_ps(m, _mm_movehl_ps(m, m));
    m = _mm_max_ss(m, _mm_shuffle_ps(m, m, 1));
    return _mm_cvtss_f32(m);
}

MURMEX_VECTOR float vectorMaximum(Row row) {
    // maxps returns its second operand when the first is not a number, so
    // putting the loaded scores first skips them.
    __m256 a = _mm256_set1_ps(kNegativeInfinity), b = a;
    size_t i = 0;
    for (; i + 16 <= row.size; i += 16) {
        a = _mm256_max_ps(load8(row, i), a);
        b = _mm256_max_ps(load8(row, i + 8), b);
    }
    for (; i + 8 <= row.size; i += 8)
        a = _mm256_max_ps(load8(row, i), a);
    float best = horizontalMaximum(_mm256_max_ps(a, b));
    for (; i < row.size; ++i) {
        const float v = scalarAt(row, i);
        if (v > best) best = v;
    }
    return best;
}

MURMEX_VECTOR size_t vectorFirstIndexOf(Row row, float value) {
    const __m256 target = _mm256_set1_ps(value);
    size_t i = 0;
    for (; i + 8 <= row.size; i += 8) {
        const int mask = _mm256_movemask_ps(_mm256_cmp_ps(load8(row, i), target, _CMP_EQ_OQ));
        if (mask != 0) return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
    }
    return scalarFirstIndexOf(row, i, value);
}

MURMEX_VECTOR size_t vectorFirstIndexAbove(Row row, size_t from, float value) {
    const __m256 target = _mm256_set1_ps(value);
    size_t i = from;
    for (; i + 8 <= row.size; i += 8) {
        const int mask = _mm256_movemask_ps(_mm256_cmp_ps(load8(row, i), target, _CMP_GT_OQ));
        if (mask != 0) return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
    }
    return scalarFirstIndexAbove(row, i, value);
}

MURMEX_VECTOR inline void accumulate(__m256 terms, __m256d& low, __m256d& high) {
    low = _mm256_add_pd(low, _mm256_cvtps_pd(_mm256_castps256_ps128(terms)));
    high = _mm256_add_pd(high, _mm256_cvtps_pd(_mm256_extractf128_ps(terms, 1)));
}

MURMEX_VECTOR double vectorSumOfExponentials(Row row, float maximum) {
    const __m256 shift = _mm256_set1_ps(maximum);
    __m256d a = _mm256_setzero_pd(), b = a, c = a, d = a;
    size_t i = 0;
    for (; i + 16 <= row.size; i += 16) {
        accumulate(platform::ml::kernels::exp8(_mm256_sub_ps(load8(row, i), shift)), a, b);
        accumulate(platform::ml::kernels::exp8(_mm256_sub_ps(load8(row, i + 8), shift)), c, d);
    }
    for (; i + 8 <= row.size; i += 8)
        accumulate(platform::ml::kernels::exp8(_mm256_sub_ps(load8(row, i), shift)), a, b);
    alignas(32) double lanes[4];
    _mm256_store_pd(lanes, _mm256_add_pd(_mm256_add_pd(a, b), _mm256_add_pd(c, d)));
    return (lanes[0] + lanes[1]) + (lanes[2] + lanes[3]) + scalarSumOfExponentials(row, i, maximum);
}

#undef MURMEX_VECTOR
#endif

bool vectorised() {
#if defined(__x86_64__)
    return platform::ml::kernels::hasAvx2Fma();
#else
    return false;
#endif
}

} // namespace

float maximum(Row row) {
#if defined(__x86_64__)
    if (vectorised()) return vectorMaximum(row);
#endif
    return scalarMaximum(row);
}

size_t firstIndexOf(Row row, float value) {
#if defined(__x86_64__)
    if (vectorised()) return vectorFirstIndexOf(row, value);
#endif
    return scalarFirstIndexOf(row, 0, value);
}

size_t firstIndexAbove(Row row, size_t from, float value) {
    if (from >= row.size) return row.size;
#if defined(__x86_64__)
    if (vectorised()) return vectorFirstIndexAbove(row, from, value);
#endif
    return scalarFirstIndexAbove(row, from, value);
}

double sumOfExponentials(Row row, float maximum) {
#if defined(__x86_64__)
    if (vectorised()) return vectorSumOfExponentials(row, maximum);
#endif
    return scalarSumOfExponentials(row, 0, maximum);
}

} // namespace murmex::logits_math
