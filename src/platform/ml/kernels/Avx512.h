#pragma once
// Small helpers of the AVX-512 paths: widening sixteen halves and summing
// sixteen lanes. They avoid the intrinsics that GCC 12's headers build from
// an undefined register (which its own warnings then flag); the code they
// compile to is the same. Callers must have checked vectorLevel().

#if defined(__x86_64__)
#include <cstdint>
#include <immintrin.h>

namespace platform::ml::kernels {

__attribute__((target("avx512f"))) inline __m512 loadHalves16(const uint16_t* p) {
    return _mm512_maskz_cvtph_ps(0xFFFF, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
}

__attribute__((target("avx512f"))) inline float sum16(__m512 v) {
    // The upper eight lanes onto the lower eight, then four, two, one.
    const __m512d wide = _mm512_castps_pd(v);
    const __m256 eight =
        _mm256_add_ps(_mm256_castpd_ps(_mm512_maskz_extractf64x4_pd(0xF, wide, 0)),
                      _mm256_castpd_ps(_mm512_maskz_extractf64x4_pd(0xF, wide, 1)));
    __m128 four = _mm_add_ps(_mm256_castps256_ps128(eight), _mm256_extractf128_ps(eight, 1));
    four = _mm_add_ps(four, _mm_movehl_ps(four, four));
    return _mm_cvtss_f32(_mm_add_ss(four, _mm_movehdup_ps(four)));
}

} // namespace platform::ml::kernels
#endif
