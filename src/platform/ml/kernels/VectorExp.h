#pragma once
// e^x for eight floats at once, shared by the runtime's activations and the
// decoder's log-probability sums. Range reduction x = n ln 2 + r with ln 2
// split in two parts, then a degree-6 polynomial on |r| <= ln 2 / 2: within
// about one unit in the last place of float. Inputs below -87, -inf and NaN
// give 0; inputs above 88.37 are clamped (the largest finite result).
// Callers must have checked hasAvx2Fma().

#if defined(__x86_64__)
#include <immintrin.h>

namespace platform::ml::kernels {

__attribute__((target("avx2,fma"))) inline __m256 exp8(__m256 x) {
    const __m256 inRange = _mm256_cmp_ps(x, _mm256_set1_ps(-87.0f), _CMP_GE_OQ);
    x = _mm256_min_ps(_mm256_max_ps(x, _mm256_set1_ps(-87.0f)), _mm256_set1_ps(88.3762626647949f));
    const __m256 n = _mm256_round_ps(_mm256_mul_ps(x, _mm256_set1_ps(1.44269504088896341f)),
                                     _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    __m256 r = _mm256_fnmadd_ps(n, _mm256_set1_ps(0.693359375f), x);
    r = _mm256_fnmadd_ps(n, _mm256_set1_ps(-2.12194440e-4f), r);
    __m256 p = _mm256_set1_ps(1.9875691500e-4f);
    p = _mm256_fmadd_ps(p, r, _mm256_set1_ps(1.3981999507e-3f));
    p = _mm256_fmadd_ps(p, r, _mm256_set1_ps(8.3334519073e-3f));
    p = _mm256_fmadd_ps(p, r, _mm256_set1_ps(4.1665795894e-2f));
    p = _mm256_fmadd_ps(p, r, _mm256_set1_ps(1.6666665459e-1f));
    p = _mm256_fmadd_ps(p, r, _mm256_set1_ps(5.0000001201e-1f));
    p = _mm256_fmadd_ps(p, _mm256_mul_ps(r, r), _mm256_add_ps(r, _mm256_set1_ps(1.0f)));
    const __m256i exponent =
        _mm256_slli_epi32(_mm256_add_epi32(_mm256_cvtps_epi32(n), _mm256_set1_epi32(127)), 23);
    return _mm256_and_ps(_mm256_mul_ps(p, _mm256_castsi256_ps(exponent)), inRange);
}

} // namespace platform::ml::kernels
#endif
