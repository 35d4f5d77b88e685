#include "platform/ml/kernels/Convert.h"

#include "platform/ml/kernels/CpuFeatures.h"
#include "platform/system/Float16.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace platform::ml::kernels {

using platform::system::Float16;

#if defined(__x86_64__)
__attribute__((target("avx2,f16c"))) static void
halfToFloatVector(const uint16_t* source, float* destination, size_t count) {
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        __m128i half = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + i));
        _mm256_storeu_ps(destination + i, _mm256_cvtph_ps(half));
    }
    for (; i < count; ++i)
        destination[i] = Float16::toFloat(source[i]);
}

__attribute__((target("avx2,f16c"))) static void
floatToHalfVector(const float* source, uint16_t* destination, size_t count) {
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        __m128i half = _mm256_cvtps_ph(_mm256_loadu_ps(source + i), _MM_FROUND_TO_NEAREST_INT);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(destination + i), half);
    }
    for (; i < count; ++i)
        destination[i] = Float16::fromFloat(source[i]);
}
#endif

void halfToFloat(const uint16_t* source, float* destination, size_t count) {
#if defined(__x86_64__)
    if (hasAvx2Fma()) return halfToFloatVector(source, destination, count);
#endif
    for (size_t i = 0; i < count; ++i)
        destination[i] = Float16::toFloat(source[i]);
}

void floatToHalf(const float* source, uint16_t* destination, size_t count) {
#if defined(__x86_64__)
    if (hasAvx2Fma()) return floatToHalfVector(source, destination, count);
#endif
    for (size_t i = 0; i < count; ++i)
        destination[i] = Float16::fromFloat(source[i]);
}

} // namespace platform::ml::kernels
