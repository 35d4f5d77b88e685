#include "model_gen/MelFilterBank.h"
#include "platform/ml/kernels/Activation.h"
#include "platform/ml/kernels/Blas.h"
#include "platform/ml/kernels/Convert.h"
#include "platform/ml/kernels/CpuFeatures.h"
#include "platform/ml/kernels/HalfGemv.h"
#include "platform/ml/kernels/Normalization.h"
#include "platform/ml/kernels/ThreadPool.h"
#include "platform/ml/kernels/VectorOps.h"
#include "platform/ml/ops/Conv1d.h"
#include "platform/ml/ops/Linear.h"
#include "platform/ml/ops/Workspace.h"
#include "platform/system/Float16.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <limits>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>

namespace kernels = platform::ml::kernels;
using platform::system::Float16;

namespace {

std::vector<float> randomFloats(size_t count, unsigned seed, float scale = 1.0f) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> uniform(-scale, scale);
    std::vector<float> values(count);
    for (float& v : values)
        v = uniform(random);
    return values;
}

std::vector<uint16_t> halvesOf(const std::vector<float>& values) {
    std::vector<uint16_t> halves(values.size());
    for (size_t i = 0; i < values.size(); ++i)
        halves[i] = Float16::fromFloat(values[i]);
    return halves;
}

// Runs a test body once per vector level this machine has (scalar, AVX2, AVX-512).
template <typename Body> void onEveryVectorLevel(Body body) {
    for (auto level :
         {kernels::VectorLevel::scalar, kernels::VectorLevel::avx2, kernels::VectorLevel::avx512}) {
        kernels::limitVectorLevel(level);
        if (kernels::vectorLevel() == level) body(level);
    }
    kernels::limitVectorLevel(kernels::VectorLevel::avx512);
}

TEST(KernelsTest, HalfConversionsAgreeWithTheExactScalarConversion) {
    std::vector<uint16_t> all(65536);
    for (uint32_t i = 0; i < all.size(); ++i)
        all[i] = static_cast<uint16_t>(i);
    std::vector<float> wide(all.size());
    kernels::halfToFloat(all.data(), wide.data(), all.size());
    for (uint32_t i = 0; i < all.size(); ++i) {
        float expected = Float16::toFloat(static_cast<uint16_t>(i));
        if (std::isnan(expected)) {
            ASSERT_TRUE(std::isnan(wide[i]));
        } else {
            ASSERT_EQ(std::bit_cast<uint32_t>(wide[i]), std::bit_cast<uint32_t>(expected)) << i;
        }
    }
    // Round trip through every finite half, plus ties, subnormals and overflow.
    std::vector<float> floats = randomFloats(1001, 1, 70000.0f);
    floats.insert(floats.end(),
                  {0.0f, -0.0f, 1.00048828125f, 6e-8f, -3e-5f, 65520.0f, 1e9f, -INFINITY});
    std::vector<uint16_t> narrow(floats.size());
    kernels::floatToHalf(floats.data(), narrow.data(), floats.size());
    for (size_t i = 0; i < floats.size(); ++i)
        ASSERT_EQ(narrow[i], Float16::fromFloat(floats[i])) << floats[i];
}

TEST(KernelsTest, MatrixProductsMatchPlainLoopsInEveryLayoutAndSplit) {
    struct Case {
        size_t m, n, k;
    };
    // Small (one block), tall (row blocks) and wide (column blocks).
    for (Case c : {Case{3, 5, 7}, Case{300, 40, 50}, Case{4, 700, 120}}) {
        for (bool ta : {false, true}) {
            for (bool tb : {false, true}) {
                auto a = randomFloats(c.m * c.k, 2);
                auto b = randomFloats(c.k * c.n, 3);
                auto out = randomFloats(c.m * c.n, 4);
                auto expected = out;
                size_t lda = ta ? c.m : c.k, ldb = tb ? c.k : c.n;
                for (size_t i = 0; i < c.m; ++i) {
                    for (size_t j = 0; j < c.n; ++j) {
                        double sum = 0;
                        for (size_t p = 0; p < c.k; ++p) {
                            float av = ta ? a[p * lda + i] : a[i * lda + p];
                            float bv = tb ? b[j * ldb + p] : b[p * ldb + j];
                            sum += static_cast<double>(av) * bv;
                        }
                        expected[i * c.n + j] =
                            static_cast<float>(0.5 * sum + 2.0 * expected[i * c.n + j]);
                    }
                }
                kernels::gemm(ta, tb, c.m, c.n, c.k, 0.5f, a.data(), lda, b.data(), ldb, 2.0f,
                              out.data(), c.n);
                for (size_t i = 0; i < out.size(); ++i) {
                    ASSERT_NEAR(out[i], expected[i], 1e-4)
                        << c.m << "x" << c.n << "x" << c.k << " " << ta << tb;
                }
            }
        }
    }
}

TEST(KernelsTest, WeightProductsMatchPlainLoopsOnEveryVectorLevel) {
    struct Case {
        size_t m, n, k;
    };
    onEveryVectorLevel([](kernels::VectorLevel level) {
        // Edges of every block shape, and products split into tiles and panels.
        for (Case c : {Case{3, 5, 7}, Case{300, 40, 50}, Case{4, 700, 120}, Case{131, 203, 300}}) {
            SCOPED_TRACE(::testing::Message() << "level " << static_cast<int>(level) << ", " << c.m
                                              << "x" << c.n << "x" << c.k);
            auto a = randomFloats(c.m * c.k, 8);
            auto weights = halvesOf(randomFloats(c.n * c.k, 9));
            auto out = randomFloats(c.m * c.n, 10);
            auto bias = randomFloats(c.n, 11);
            const auto initial = out;
            auto expected = out;
            for (size_t i = 0; i < c.m; ++i) {
                for (size_t j = 0; j < c.n; ++j) {
                    double sum = 0;
                    for (size_t p = 0; p < c.k; ++p)
                        sum += static_cast<double>(a[i * c.k + p]) *
                               Float16::toFloat(weights[j * c.k + p]);
                    expected[i * c.n + j] =
                        static_cast<float>(sum + expected[i * c.n + j] + bias[j]);
                }
            }
            // Added to C, with a bias.
            kernels::gemmWeights(c.m, c.n, c.k, a.data(), c.k, weights.data(), c.k, 1.0f,
                                 out.data(), c.n, bias.data());
            for (size_t i = 0; i < out.size(); ++i)
                ASSERT_NEAR(out[i], expected[i], 1e-4) << i;
            // Stored in C, through GELU.
            std::vector<float> activated(c.m * c.n, 5.0f);
            kernels::gemmWeights(c.m, c.n, c.k, a.data(), c.k, weights.data(), c.k, 0.0f,
                                 activated.data(), c.n, bias.data(), true);
            for (size_t i = 0; i < activated.size(); ++i) {
                const double pre = expected[i] - initial[i]; // the product and the bias
                const double gelu = 0.5 * pre * (1.0 + std::erf(pre / std::sqrt(2.0)));
                ASSERT_NEAR(activated[i], gelu, 1e-4) << i;
            }
        }
    });
}

namespace {

void vectorProductsMatchPlainLoops() {
    for (size_t m : {1u, 5u, 67u, 1031u}) {
        for (size_t n : {3u, 8u, 61u, 384u}) {
            auto a = randomFloats(m * n, 5);
            auto x = randomFloats(n, 6);
            auto y = randomFloats(m, 7);
            auto halves = halvesOf(a);
            std::vector<double> plain(m), plainHalf(m);
            for (size_t i = 0; i < m; ++i) {
                for (size_t j = 0; j < n; ++j) {
                    plain[i] += static_cast<double>(a[i * n + j]) * x[j];
                    plainHalf[i] += static_cast<double>(Float16::toFloat(halves[i * n + j])) * x[j];
                }
            }
            auto out = y;
            kernels::gemv(m, n, 1.0f, a.data(), n, x.data(), 1.0f, out.data());
            auto half = y;
            kernels::gemvHalf(m, n, halves.data(), n, x.data(), half.data(), true);
            std::vector<float> fresh(m, 123.0f);
            kernels::gemvHalf(m, n, halves.data(), n, x.data(), fresh.data(), false);
            for (size_t i = 0; i < m; ++i) {
                ASSERT_NEAR(out[i], plain[i] + y[i], 1e-4);
                ASSERT_NEAR(half[i], plainHalf[i] + y[i], 1e-4);
                ASSERT_NEAR(fresh[i], plainHalf[i], 1e-4);
            }
            float dot = kernels::dot(a.data(), x.data(), n);
            float dotHalf = kernels::dotHalf(x.data(), halves.data(), n);
            ASSERT_NEAR(dot, plain[0], 1e-4);
            ASSERT_NEAR(dotHalf, plainHalf[0], 1e-4);
            auto sum = y;
            auto sumHalf = y;
            kernels::axpy(0.25f, x.data(), sum.data(), std::min(m, n));
            kernels::axpyHalf(0.25f, halves.data(), sumHalf.data(), std::min(m, n));
            for (size_t i = 0; i < std::min(m, n); ++i) {
                ASSERT_FLOAT_EQ(sum[i], y[i] + 0.25f * x[i]);
                ASSERT_FLOAT_EQ(sumHalf[i], y[i] + 0.25f * Float16::toFloat(halves[i]));
            }
        }
    }
}

} // namespace

TEST(KernelsTest, VectorProductsMatchPlainLoopsOnEveryVectorLevel) {
    onEveryVectorLevel([](kernels::VectorLevel) { vectorProductsMatchPlainLoops(); });
}

TEST(KernelsTest, ActivationsMatchTheirDefinitions) {
    std::vector<float> x;
    for (float v = -12.0f; v <= 12.0f; v += 0.01f)
        x.push_back(v);
    auto gelu = x;
    kernels::gelu(gelu.data(), gelu.size());
    for (size_t i = 0; i < x.size(); ++i) {
        double expected = 0.5 * x[i] * (1.0 + std::erf(x[i] / std::sqrt(2.0)));
        ASSERT_NEAR(gelu[i], expected, 3e-7 * std::max(1.0, std::abs(double(x[i])))) << x[i];
    }
    std::vector<float> inputs;
    for (float v = -87.0f; v <= 88.0f; v += 0.037f)
        inputs.push_back(v);
    inputs.push_back(-INFINITY);
    inputs.push_back(-1000.0f);
    std::vector<float> e(inputs.size());
    kernels::exponential(inputs.data(), e.data(), inputs.size());
    for (size_t i = 0; i + 2 < inputs.size(); ++i) {
        ASSERT_NEAR(e[i] / std::exp(double(inputs[i])), 1.0, 3e-7) << inputs[i];
    }
    EXPECT_EQ(e[e.size() - 2], 0.0f);
    EXPECT_EQ(e.back(), 0.0f);
}

TEST(KernelsTest, SoftmaxRowsHandleMasksAndFullyMaskedRows) {
    const size_t columns = 37;
    auto x = randomFloats(3 * columns, 8, 5.0f);
    for (size_t j = 10; j < columns; ++j)
        x[j] -= 10000.0f; // row 0: masked tail
    for (size_t j = 0; j < columns; ++j)
        x[2 * columns + j] = -INFINITY;
    auto expected = x;
    for (size_t r = 0; r < 2; ++r) {
        double maximum = -1e300, sum = 0;
        for (size_t j = 0; j < columns; ++j)
            maximum = std::max(maximum, double(x[r * columns + j]));
        for (size_t j = 0; j < columns; ++j)
            sum += std::exp(x[r * columns + j] - maximum);
        for (size_t j = 0; j < columns; ++j)
            expected[r * columns + j] = float(std::exp(x[r * columns + j] - maximum) / sum);
    }
    kernels::softmaxRows(x.data(), 3, columns, columns);
    for (size_t j = 0; j < 2 * columns; ++j)
        ASSERT_NEAR(x[j], expected[j], 1e-6);
    for (size_t j = 10; j < columns; ++j)
        EXPECT_EQ(x[j], 0.0f);
    for (size_t j = 0; j < columns; ++j)
        EXPECT_EQ(x[2 * columns + j], 0.0f); // no NaN from 0/0
}

TEST(KernelsTest, LayerNormMatchesAPlainComputation) {
    const size_t rows = 3, columns = 50;
    auto x = randomFloats(rows * columns, 9, 3.0f);
    for (float& v : x)
        v += 100.0f; // a large mean must not cost precision
    auto gamma = randomFloats(columns, 10), beta = randomFloats(columns, 11);
    std::vector<float> y(x.size());
    kernels::layerNorm(x.data(), y.data(), rows, columns, gamma.data(), beta.data());
    for (size_t r = 0; r < rows; ++r) {
        double mean = 0, var = 0;
        for (size_t c = 0; c < columns; ++c)
            mean += x[r * columns + c];
        mean /= columns;
        for (size_t c = 0; c < columns; ++c)
            var += (x[r * columns + c] - mean) * (x[r * columns + c] - mean);
        var /= columns;
        for (size_t c = 0; c < columns; ++c) {
            double expected =
                (x[r * columns + c] - mean) / std::sqrt(var + 1e-5) * gamma[c] + beta[c];
            ASSERT_NEAR(y[r * columns + c], expected, 1e-4);
        }
    }
}

TEST(KernelsTest, ConvolutionMatchesAPlainLoopInBothLayoutsAndPrecisions) {
    platform::ml::Conv1d conv;
    conv.in = 5;
    conv.out = 7;
    // Values a half float holds exactly, so both precisions compute the same sums.
    auto halves = halvesOf(randomFloats(7 * 5 * 3, 12));
    std::vector<float> weight(halves.size());
    kernels::halfToFloat(halves.data(), weight.data(), halves.size());
    auto bias = randomFloats(7, 13);
    conv.projection.in = 15;
    conv.projection.out = 7;
    conv.projection.bias = bias;
    const int64_t length = 41;
    auto channelMajor = randomFloats(5 * length, 14);
    std::vector<float> timeMajor(channelMajor.size());
    for (int64_t c = 0; c < 5; ++c) {
        for (int64_t t = 0; t < length; ++t)
            timeMajor[t * 5 + c] = channelMajor[c * length + t];
    }
    for (bool half : {false, true}) {
        conv.projection.weight = half ? std::vector<float>{} : weight;
        conv.projection.halfWeight = half ? halves : std::vector<uint16_t>{};
        for (int64_t stride : {1, 2}) {
            conv.stride = stride;
            const int64_t outLength = conv.outputLength(length);
            std::vector<float> columns(outLength * 5 * 3), a(outLength * 7), b(outLength * 7);
            conv.forward(channelMajor.data(), length, true, columns.data(), a.data());
            conv.forward(timeMajor.data(), length, false, columns.data(), b.data());
            for (int64_t t = 0; t < outLength; ++t) {
                for (int64_t o = 0; o < 7; ++o) {
                    double sum = bias[o];
                    for (int64_t c = 0; c < 5; ++c) {
                        for (int64_t k = 0; k < 3; ++k) {
                            int64_t source = t * stride + k - 1;
                            if (source >= 0 && source < length)
                                sum +=
                                    weight[(o * 5 + c) * 3 + k] * channelMajor[c * length + source];
                        }
                    }
                    ASSERT_NEAR(a[t * 7 + o], sum, 1e-5) << "stride " << stride << " " << half;
                    ASSERT_NEAR(b[t * 7 + o], sum, 1e-5) << "stride " << stride << " " << half;
                }
            }
        }
    }
}

TEST(KernelsTest, BatchedHalfProductsMatchPlainLoopsOnEveryVectorLevel) {
    onEveryVectorLevel([](kernels::VectorLevel level) {
        // Tails of every width, and products large enough to be split over threads.
        for (auto [m, n] : {std::pair<size_t, size_t>{1, 3}, {37, 61}, {300, 384}, {1031, 136}}) {
            const size_t stride = n + 5; // rows need not be packed
            std::vector<std::vector<uint16_t>> weights;
            for (unsigned p = 0; p < 4; ++p)
                weights.push_back(halvesOf(randomFloats(m * stride, 30 + p)));
            auto x = randomFloats(n, 40);
            auto bias = randomFloats(m, 41);
            auto start = randomFloats(m, 42);
            std::vector<float> plain(m), withBias(m), accumulated(start), activated(m);
            std::vector<uint16_t> rounded(m);
            kernels::HalfProduct products[4];
            for (unsigned p = 0; p < 4; ++p) {
                products[p].weights = weights[p].data();
                products[p].rows = m;
                products[p].columns = n;
                products[p].stride = stride;
                products[p].x = x.data();
            }
            products[0].halfY = rounded.data();
            products[1].y = withBias.data();
            products[1].bias = bias.data();
            products[2].y = accumulated.data();
            products[2].accumulate = true;
            products[3].y = activated.data();
            products[3].bias = bias.data();
            products[3].gelu = true;
            kernels::gemvHalf(products);
            for (size_t r = 0; r < m; ++r) {
                double dots[4] = {};
                for (unsigned p = 0; p < 4; ++p) {
                    for (size_t j = 0; j < n; ++j) {
                        dots[p] +=
                            static_cast<double>(Float16::toFloat(weights[p][r * stride + j])) *
                            x[j];
                    }
                }
                const double pre = dots[3] + bias[r];
                const double gelu = 0.5 * pre * (1.0 + std::erf(pre / std::sqrt(2.0)));
                SCOPED_TRACE(::testing::Message() << "level " << static_cast<int>(level) << ", "
                                                  << m << "x" << n << ", row " << r);
                ASSERT_NEAR(Float16::toFloat(rounded[r]), dots[0], 2e-3 * (1 + std::abs(dots[0])));
                ASSERT_NEAR(withBias[r], dots[1] + bias[r], 1e-4);
                ASSERT_NEAR(accumulated[r], dots[2] + start[r], 1e-4);
                ASSERT_NEAR(activated[r], gelu, 1e-4);
            }
        }
    });
}

TEST(KernelsTest, LayersRunTogetherMatchEachLayerRunAlone) {
    platform::ml::Linear half, wide, noBias;
    half.in = wide.in = noBias.in = 16;
    half.out = 5;
    wide.out = 3;
    noBias.out = 16;
    half.halfWeight = halvesOf(randomFloats(5 * 16, 20));
    half.bias = randomFloats(5, 21);
    wide.weight = randomFloats(3 * 16, 22);
    wide.bias = randomFloats(3, 23);
    noBias.halfWeight = halvesOf(randomFloats(16 * 16, 24));
    auto x = randomFloats(16, 25);
    std::vector<float> expectedHalf(5), expectedWide(3), expectedResidual = randomFloats(16, 26);
    auto residual = expectedResidual;
    half.forward(x.data(), 1, expectedHalf.data());
    kernels::gelu(expectedHalf.data(), 5);
    wide.forward(x.data(), 1, expectedWide.data());
    kernels::gelu(expectedWide.data(), 3);
    noBias.forwardAccumulate(x.data(), 1, expectedResidual.data());

    std::vector<float> actualHalf(5), actualWide(3);
    const platform::ml::LinearCall calls[] = {{&half, x.data(), actualHalf.data(), false, true},
                                              {&wide, x.data(), actualWide.data(), false, true},
                                              {&noBias, x.data(), residual.data(), true, false}};
    platform::ml::forwardVectors(calls);
    EXPECT_EQ(actualHalf, expectedHalf);
    EXPECT_EQ(actualWide, expectedWide);
    EXPECT_EQ(residual, expectedResidual);
}

TEST(KernelsTest, ParallelForCoversEveryIndexOnceAndReportsErrors) {
    kernels::ThreadPool pool(4);
    for (size_t count : {1u, 7u, 1000u}) {
        std::vector<std::atomic<int>> hits(count);
        pool.parallelFor(count, 3, [&](size_t begin, size_t end) {
            for (size_t i = begin; i < end; ++i)
                hits[i]++;
        });
        for (auto& hit : hits)
            ASSERT_EQ(hit.load(), 1);
    }
    EXPECT_THROW(pool.parallelFor(100, 1,
                                  [](size_t begin, size_t) {
                                      if (begin >= 50) throw std::runtime_error("chunk failed");
                                  }),
                 std::runtime_error);
    // Loops started from several threads at once, and nested loops, all finish.
    std::vector<std::thread> threads;
    std::atomic<size_t> total{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            pool.parallelFor(64, 1, [&](size_t begin, size_t end) {
                for (size_t i = begin; i < end; ++i) {
                    pool.parallelFor(10, 1, [&](size_t b, size_t e) { total += e - b; });
                }
            });
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(total.load(), 4u * 64u * 10u);
}

TEST(KernelsTest, MoreLoopsAtOnceThanThePoolTracksRunOnTheirCallers) {
    // Each loop's chunks wait until every loop has begun, so all of them are
    // running at the same moment: far more than the pool keeps track of.
    kernels::ThreadPool pool(4);
    constexpr int kLoops = 100;
    std::atomic<int> begun{0};
    std::atomic<size_t> total{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kLoops; ++t) {
        threads.emplace_back([&] {
            std::atomic<bool> counted{false};
            pool.parallelFor(8, 1, [&](size_t begin, size_t end) {
                if (!counted.exchange(true)) begun++;
                while (begun.load() < kLoops)
                    std::this_thread::yield();
                total += end - begin;
            });
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(total.load(), size_t{kLoops} * 8);
}

TEST(KernelsTest, ACallersShareLimitsItsOwnLoopsOnly) {
    kernels::ThreadPool pool(4);
    auto threadsUsed = [&] {
        std::mutex mutex;
        std::set<std::thread::id> seen;
        pool.parallelFor(64, 1, [&](size_t, size_t) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            std::lock_guard lock(mutex);
            seen.insert(std::this_thread::get_id());
        });
        return seen;
    };
    {
        const int previous = kernels::ThreadPool::setCallerShare(1);
        EXPECT_EQ(pool.threadCount(), 1);
        // A share of one runs every chunk on the caller, without the workers.
        EXPECT_EQ(threadsUsed(), std::set<std::thread::id>{std::this_thread::get_id()});
        // Another thread keeps the pool's whole width.
        std::thread([&] { EXPECT_EQ(pool.threadCount(), 4); }).join();
        kernels::ThreadPool::setCallerShare(3);
        EXPECT_EQ(pool.threadCount(), 3);
        kernels::ThreadPool::setCallerShare(9); // more than the pool has: the pool's width
        EXPECT_EQ(pool.threadCount(), 4);
        kernels::ThreadPool::setCallerShare(previous);
    }
    EXPECT_EQ(pool.threadCount(), 4);
    EXPECT_GT(threadsUsed().size(), 1u);
}

TEST(KernelsTest, ManyShortLoopsFromSeveralThreadsNeitherHangNorLoseChunks) {
    kernels::ThreadPool pool(4);
    std::atomic<size_t> total{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&] {
            for (int round = 0; round < 2000; ++round) {
                pool.parallelFor(16, 1, [&](size_t begin, size_t end) { total += end - begin; });
                pool.parallelChunks(10, 3, [&](size_t begin, size_t end) { total += end - begin; });
            }
        });
    }
    for (int round = 0; round < 5; ++round) {
        pool.setThreadCount(2 + round % 3); // workers restart while loops run
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(total.load(), 3u * 2000u * 26u);
}

namespace {

struct ThreadSample {
    char state = '?'; // R running or runnable, S asleep, ...
    long ticks = 0;   // processor time spent so far, in clock ticks
};

// The state and processor time of each of this process's threads named
// `name`, by thread id.
std::map<std::string, ThreadSample> threadSamples(const std::string& name) {
    std::map<std::string, ThreadSample> samples;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string threadName;
        std::getline(comm, threadName);
        if (threadName != name) continue;
        std::ifstream stat(task.path() / "stat");
        std::string line;
        std::getline(stat, line);
        if (line.empty()) continue; // the thread has just ended
        // After the parenthesised name: state and ten more fields, then utime and stime.
        std::istringstream fields(line.substr(line.rfind(')') + 2));
        std::vector<std::string> values(13);
        for (std::string& value : values)
            fields >> value;
        samples[task.path().filename()] = {values[0][0],
                                           std::stol(values[11]) + std::stol(values[12])};
    }
    return samples;
}

} // namespace

TEST(KernelsTest, IdleWorkersGiveTheirProcessorsBack) {
    const auto others = threadSamples(kernels::ThreadPool::kWorkerName); // the shared pool's
    kernels::ThreadPool pool(4);
    pool.parallelFor(1000, 1, [](size_t, size_t) {});
    auto ours = [&] {
        auto samples = threadSamples(kernels::ThreadPool::kWorkerName);
        for (const auto& [thread, sample] : others)
            samples.erase(thread);
        return samples;
    };
    auto allAsleep = [](const std::map<std::string, ThreadSample>& samples) {
        return std::all_of(samples.begin(), samples.end(),
                           [](const auto& entry) { return entry.second.state == 'S'; });
    };
    // Idle workers spin briefly, then sleep. On a busy machine a worker may
    // start or finish spinning late, so wait for the sleep itself rather
    // than for a fixed time; one that spins forever never shows asleep.
    auto before = ours();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while ((before.size() != 3 || !allAsleep(before)) &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        before = ours();
    }
    ASSERT_EQ(before.size(), 3u);
    ASSERT_TRUE(allAsleep(before)) << "idle workers still running";
    // Asleep, they stay asleep while nothing is published: three spinning
    // workers would burn up to 90 ticks of 10 ms here.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto after = ours();
    long spent = 0;
    for (const auto& [thread, sample] : after) {
        if (before.count(thread)) spent += sample.ticks - before.at(thread).ticks;
    }
    EXPECT_LE(spent, 2);
    EXPECT_TRUE(allAsleep(after));
}

TEST(KernelsTest, WorkspaceScopesHandTheirBuffersToTheNextScope) {
    platform::ml::Workspace workspace;
    float* outer = workspace.floats(10);
    std::vector<float*> first;
    for (int layer = 0; layer < 3; ++layer) {
        platform::ml::Workspace::Scope scope(workspace);
        float* a = workspace.floats(1000);
        float* b = workspace.floats(layer == 2 ? 5000 : 2000); // may grow
        EXPECT_NE(a, b);
        EXPECT_NE(a, outer);
        if (layer == 0) first = {a, b};
        if (layer == 1) {
            EXPECT_EQ((std::vector<float*>{a, b}), first);
        }
        if (layer == 2) {
            EXPECT_EQ(a, first[0]);
            std::fill(b, b + 5000, 1.0f); // the grown buffer is really that large
        }
    }
    EXPECT_NE(workspace.floats(10), outer);
}

TEST(KernelsTest, MelFiltersAreAreaNormalisedTrianglesOnTheSlaneyScale) {
    for (int64_t mels : {80, 128}) {
        auto bank = modelgen::melFilterBank(mels);
        ASSERT_EQ(bank.size(), static_cast<size_t>(mels * 201));
        int64_t previousPeak = -1;
        for (int64_t m = 0; m < mels; ++m) {
            const float* row = bank.data() + m * 201;
            int64_t peak = std::max_element(row, row + 201) - row;
            EXPECT_GE(peak, previousPeak) << m; // centres rise with the filter index
            previousPeak = peak;
            for (int64_t k = 0; k < 201; ++k)
                ASSERT_GE(row[k], 0.0f);
            if (m >= 3 * mels / 4) {
                // Wide filters: the sampled triangle has unit area in Hz (40 Hz per bin).
                double area = 0;
                for (int64_t k = 0; k < 201; ++k)
                    area += row[k] * 40.0;
                EXPECT_NEAR(area, 1.0, 0.1) << "filter " << m;
            }
        }
        // Below 1 kHz the scale is linear: centres 200/3 Hz apart (1.667 bins) for 80 mels.
        if (mels == 80) {
            const float* first = bank.data();
            EXPECT_EQ(std::max_element(first, first + 201) - first, 1);
        }
    }
}

} // namespace
