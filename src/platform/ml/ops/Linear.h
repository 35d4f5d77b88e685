#pragma once
// A fully connected layer y = x · Wᵀ + b with the weight stored [out, in].

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform::ml {

class WeightFile;

struct Linear {
    int64_t in = 0;
    int64_t out = 0;
    std::vector<float> weight;  // [out, in]
    std::vector<float> bias;    // [out] or empty

    /// Reads "<name>.weight" (and "<name>.bias" when `withBias`), widened to float.
    static Linear load(const WeightFile& file, const std::string& name, int64_t out, int64_t in, bool withBias = true);

    /// y[rows, out] = x[rows, in] · Wᵀ + b.
    void forward(const float* x, size_t rows, float* y) const;
    /// y[rows, out] += x[rows, in] · Wᵀ + b (a residual connection).
    void forwardAccumulate(const float* x, size_t rows, float* y) const;
};

/// Adds a bias vector to every row of y[rows, columns].
void addBiasRows(float* y, size_t rows, size_t columns, const float* bias);

}  // namespace platform::ml
