#pragma once
// A fully connected layer y = x · Wᵀ + b with the weight stored [out, in].

#include "platform/ml/WeightBuffer.h"
#include "platform/ml/kernels/HalfGemv.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace platform::ml {

class WeightFile;
struct LinearCall;

struct Linear {
    /// The weight keeps the precision the file stores it in, used in place.
    /// Products with one vector stream a half weight as it is (half the
    /// bytes to read); products over many rows widen each thread's part of
    /// it into per-thread scratch first, which costs little next to the product.
    int64_t in = 0;
    int64_t out = 0;
    WeightBuffer<float> weight;        // [out, in] when stored as float
    WeightBuffer<uint16_t> halfWeight; // [out, in] when stored as half floats
    WeightBuffer<float> bias;          // [out] or empty

    /// Reads "<name>.weight" (and "<name>.bias" when `withBias`). The weight
    /// is stored [out, in], or in `storedShape` when that is given (any shape
    /// whose trailing dimensions make up `in`).
    static Linear load(const WeightFile& file, const std::string& name, int64_t out, int64_t in,
                       bool withBias = true, std::vector<int64_t> storedShape = {});

    /// y[rows, out] = x[rows, in] · Wᵀ + b.
    void forward(const float* x, size_t rows, float* y) const;
    /// y[rows, out] += x[rows, in] · Wᵀ + b (a residual connection).
    void forwardAccumulate(const float* x, size_t rows, float* y) const;
    /// y[rows, out] = GELU(x[rows, in] · Wᵀ + b).
    void forwardGelu(const float* x, size_t rows, float* y) const;

    /// This layer applied to one vector, as one product of a batch that
    /// kernels::gemvHalf runs together (half weights only).
    kernels::HalfProduct product(const float* x, float* y, bool accumulate = false) const;

    /// The weight as float [out, in]: the stored one, or `scratch` (out·in
    /// floats) filled by widening the half weight over the thread pool.
    const float* wideWeight(float* scratch) const;

private:
    friend void forwardVectors(std::span<const LinearCall> calls);
    void apply(const float* x, size_t rows, float* y, bool accumulate, bool gelu = false) const;
};

/// One layer applied to one vector: y = f(x · Wᵀ + b) (+ y when
/// `accumulate`), f being GELU when `gelu`, else the identity.
struct LinearCall {
    const Linear* layer = nullptr;
    const float* x = nullptr;
    float* y = nullptr;
    bool accumulate = false;
    bool gelu = false;
};

/// Runs the calls; those on half weights share one hand-off to the thread
/// pool, so the small products of one decoding step split as one loop.
void forwardVectors(std::span<const LinearCall> calls);

/// Adds a bias vector to every row of y[rows, columns].
void addBiasRows(float* y, size_t rows, size_t columns, const float* bias);

} // namespace platform::ml
