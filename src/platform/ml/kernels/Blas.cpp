#include "platform/ml/kernels/Blas.h"

#include "platform/ml/kernels/Activation.h"
#include "platform/ml/kernels/Convert.h"
#include "platform/ml/kernels/HalfGemm.h"
#include "platform/ml/kernels/ThreadPool.h"

#include <algorithm>
#include <cblas.h>
#include <utility>
#include <vector>

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

namespace {

// How the product is cut into tiles of C: `rows` blocks of A's rows times
// `columns` blocks of B's columns.
struct Grid {
    size_t rows = 1;
    size_t columns = 1;
};

// Every call packs its blocks of A and B afresh, so the grid that packs the
// least per tile wins: rows/r + columns/c smallest over r·c = tiles. Blocks
// narrower than a few vector widths are avoided.
Grid chooseGrid(size_t m, size_t n, size_t tiles) {
    Grid best;
    double bestCost = -1;
    for (size_t r = 1; r <= tiles; ++r) {
        if (tiles % r != 0) continue;
        const size_t c = tiles / r;
        if (r > 1 && m / r < 16) continue;
        if (c > 1 && n / c < 32) continue;
        const double cost = static_cast<double>(m) / static_cast<double>(r) +
                            static_cast<double>(n) / static_cast<double>(c);
        if (bestCost < 0 || cost < bestCost) {
            bestCost = cost;
            best = {r, c};
        }
    }
    return best;
}

// Tiles per thread: a second tile each lets threads that start late (or
// run slower on a busy machine) be covered by the others.
constexpr size_t kTilesPerThread = 2;

// [begin, end) of block `index` of `blocks` over `count`, block edges on
// multiples of `unit` (whole cache lines of C).
std::pair<size_t, size_t> blockRange(size_t count, size_t blocks, size_t index, size_t unit) {
    const size_t units = (count + unit - 1) / unit;
    const size_t begin = std::min(count, units * index / blocks * unit);
    const size_t end = std::min(count, units * (index + 1) / blocks * unit);
    return {begin, end};
}

// Runs tile(rowBegin, rowEnd, columnBegin, columnEnd) over a grid of C[m×n].
template <typename Tile> void forEachTile(size_t m, size_t n, size_t k, Tile tile) {
    ThreadPool& pool = ThreadPool::shared();
    const size_t threads = static_cast<size_t>(pool.threadCount());
    if (threads <= 1 || m * n * k < kSplitThreshold) return tile(0, m, 0, n);
    const Grid grid = chooseGrid(m, n, threads * kTilesPerThread);
    const size_t tiles = grid.rows * grid.columns;
    pool.parallelChunks(tiles, tiles, [&](size_t begin, size_t end) {
        for (size_t t = begin; t < end; ++t) {
            // Neighbouring tiles share a block of A's rows.
            auto [rowBegin, rowEnd] = blockRange(m, grid.rows, t / grid.columns, 1);
            auto [columnBegin, columnEnd] = blockRange(n, grid.columns, t % grid.columns, 16);
            if (rowBegin < rowEnd && columnBegin < columnEnd)
                tile(rowBegin, rowEnd, columnBegin, columnEnd);
        }
    });
}

} // namespace

void gemm(bool transposeA, bool transposeB, size_t m, size_t n, size_t k, float alpha,
          const float* a, size_t lda, const float* b, size_t ldb, float beta, float* c,
          size_t ldc) {
    if (m == 0 || n == 0) return;
    forEachTile(m, n, k, [&](size_t r0, size_t r1, size_t c0, size_t c1) {
        const float* aBlock = transposeA ? a + r0 : a + r0 * lda;
        const float* bBlock = transposeB ? b + c0 * ldb : b + c0;
        gemmSerial(transposeA, transposeB, r1 - r0, c1 - c0, k, alpha, aBlock, lda, bBlock, ldb,
                   beta, c + r0 * ldc + c0, ldc);
    });
}

namespace {

// The end of a tile: bias, then GELU, row by row while the tile is in cache.
void finishTile(float* c, size_t ldc, size_t rows, size_t columns, const float* bias, bool gelu) {
    if (!bias && !gelu) return;
    for (size_t r = 0; r < rows; ++r) {
        float* row = c + r * ldc;
        if (bias) {
            for (size_t j = 0; j < columns; ++j)
                row[j] += bias[j];
        }
        if (gelu) kernels::gelu(row, columns);
    }
}

} // namespace

void gemmWeights(size_t m, size_t n, size_t k, const float* a, size_t lda, const float* b,
                 size_t ldb, float beta, float* c, size_t ldc, const float* bias, bool gelu) {
    if (m == 0 || n == 0) return;
    forEachTile(m, n, k, [&](size_t r0, size_t r1, size_t c0, size_t c1) {
        gemmSerial(false, true, r1 - r0, c1 - c0, k, 1.0f, a + r0 * lda, lda, b + c0 * ldb, ldb,
                   beta, c + r0 * ldc + c0, ldc);
        finishTile(c + r0 * ldc + c0, ldc, r1 - r0, c1 - c0, bias ? bias + c0 : nullptr, gelu);
    });
}

void gemmWeights(size_t m, size_t n, size_t k, const float* a, size_t lda, const uint16_t* b,
                 size_t ldb, float beta, float* c, size_t ldc, const float* bias, bool gelu) {
    if (m == 0 || n == 0) return;
    const bool direct = canGemmHalfRows() && (beta == 0.0f || beta == 1.0f);
    forEachTile(m, n, k, [&](size_t r0, size_t r1, size_t c0, size_t c1) {
        const size_t columns = c1 - c0;
        if (direct) {
            gemmHalfRows(r1 - r0, columns, k, a + r0 * lda, lda, b + c0 * ldb, ldb, beta != 0.0f,
                         c + r0 * ldc + c0, ldc);
        } else {
            // The tile's rows of B, widened into memory the thread keeps.
            thread_local std::vector<float> wide;
            if (wide.size() < columns * k) wide.resize(columns * k);
            for (size_t j = 0; j < columns; ++j)
                halfToFloat(b + (c0 + j) * ldb, wide.data() + j * k, k);
            gemmSerial(false, true, r1 - r0, columns, k, 1.0f, a + r0 * lda, lda, wide.data(), k,
                       beta, c + r0 * ldc + c0, ldc);
        }
        finishTile(c + r0 * ldc + c0, ldc, r1 - r0, columns, bias ? bias + c0 : nullptr, gelu);
    });
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
