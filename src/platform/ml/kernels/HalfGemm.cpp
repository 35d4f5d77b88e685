#include "platform/ml/kernels/HalfGemm.h"

#include "platform/ml/kernels/Avx512.h"
#include "platform/ml/kernels/CpuFeatures.h"

#include <algorithm>
#include <array>
#include <utility>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace platform::ml::kernels {

namespace {

#if defined(__x86_64__)
constexpr size_t kRows = 6;    // rows of A per block
constexpr size_t kColumns = 4; // rows of B per block
// Rows of B kept hot in the level-2 cache while every row of A passes them.
constexpr size_t kColumnPanel = 96;

#define ZV_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl")))

ZV_AVX512 inline __m512 loadHalves(const uint16_t* p, __mmask16 mask) {
    return _mm512_maskz_cvtph_ps(0xFFFF, _mm256_maskz_loadu_epi16(mask, p));
}

// C[R×C] (+)= A[R rows] · B[C rows]ᵀ over k, sixteen lanes of each sum at a time.
template <size_t R, size_t C>
ZV_AVX512 void block(const float* a, size_t lda, const uint16_t* b, size_t ldb, size_t k,
                     bool accumulate, float* c, size_t ldc) {
    __m512 sums[R][C];
#pragma GCC unroll 8
    for (size_t i = 0; i < R; ++i) {
#pragma GCC unroll 8
        for (size_t j = 0; j < C; ++j)
            sums[i][j] = _mm512_setzero_ps();
    }
    size_t p = 0;
    for (; p + 16 <= k; p += 16) {
        __m512 columns[C];
#pragma GCC unroll 8
        for (size_t j = 0; j < C; ++j)
            columns[j] = loadHalves16(b + j * ldb + p);
#pragma GCC unroll 8
        for (size_t i = 0; i < R; ++i) {
            const __m512 row = _mm512_loadu_ps(a + i * lda + p);
#pragma GCC unroll 8
            for (size_t j = 0; j < C; ++j)
                sums[i][j] = _mm512_fmadd_ps(row, columns[j], sums[i][j]);
        }
    }
    if (p < k) {
        const auto mask = static_cast<__mmask16>((1u << (k - p)) - 1);
        __m512 columns[C];
#pragma GCC unroll 8
        for (size_t j = 0; j < C; ++j)
            columns[j] = loadHalves(b + j * ldb + p, mask);
#pragma GCC unroll 8
        for (size_t i = 0; i < R; ++i) {
            const __m512 row = _mm512_maskz_loadu_ps(mask, a + i * lda + p);
#pragma GCC unroll 8
            for (size_t j = 0; j < C; ++j)
                sums[i][j] = _mm512_fmadd_ps(row, columns[j], sums[i][j]);
        }
    }
#pragma GCC unroll 8
    for (size_t i = 0; i < R; ++i) {
#pragma GCC unroll 8
        for (size_t j = 0; j < C; ++j) {
            const float sum = sum16(sums[i][j]);
            float& out = c[i * ldc + j];
            out = accumulate ? out + sum : sum;
        }
    }
}

using BlockFunction = void (*)(const float*, size_t, const uint16_t*, size_t, size_t, bool, float*,
                               size_t);

// Blocks of every shape up to kRows × kColumns, for the edges of C.
template <size_t R, size_t... C>
constexpr std::array<BlockFunction, sizeof...(C)> blockRow(std::index_sequence<C...>) {
    return {block<R, C + 1>...};
}
template <size_t... R>
constexpr std::array<std::array<BlockFunction, kColumns>, sizeof...(R)>
blockTable(std::index_sequence<R...>) {
    return {blockRow<R + 1>(std::make_index_sequence<kColumns>())...};
}
constexpr auto kBlocks = blockTable(std::make_index_sequence<kRows>());

void rowsAvx512(size_t m, size_t n, size_t k, const float* a, size_t lda, const uint16_t* b,
                size_t ldb, bool accumulate, float* c, size_t ldc) {
    for (size_t j0 = 0; j0 < n; j0 += kColumnPanel) {
        const size_t j1 = std::min(n, j0 + kColumnPanel);
        for (size_t i = 0; i < m; i += kRows) {
            const size_t rows = std::min(kRows, m - i);
            for (size_t j = j0; j < j1; j += kColumns) {
                const size_t columns = std::min(kColumns, j1 - j);
                kBlocks[rows - 1][columns - 1](a + i * lda, lda, b + j * ldb, ldb, k, accumulate,
                                               c + i * ldc + j, ldc);
            }
        }
    }
}
#endif

} // namespace

bool canGemmHalfRows() {
#if defined(__x86_64__)
    static const bool supported =
        __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl");
    return supported && vectorLevel() == VectorLevel::avx512;
#else
    return false;
#endif
}

void gemmHalfRows(size_t m, size_t n, size_t k, const float* a, size_t lda, const uint16_t* b,
                  size_t ldb, bool accumulate, float* c, size_t ldc) {
#if defined(__x86_64__)
    if (m > 0 && n > 0) rowsAvx512(m, n, k, a, lda, b, ldb, accumulate, c, ldc);
#else
    (void)m, (void)n, (void)k, (void)a, (void)lda, (void)b, (void)ldb, (void)accumulate, (void)c,
        (void)ldc;
#endif
}

} // namespace platform::ml::kernels
