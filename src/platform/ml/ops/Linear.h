#pragma once
// A fully connected layer y = x · Wᵀ + b with the weight stored [out, in].

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform::ml {

class WeightFile;

struct Linear {
    /// How the weight is held: widened to float once at load, or in the
    /// precision the file stores it. Products with one vector stream a half
    /// weight as it is (half the bytes to read); products over many rows
    /// widen it into per-thread scratch first, which costs little next to the
    /// product and halves the memory the weights occupy.
    enum class Storage { widened, asStored };

    int64_t in = 0;
    int64_t out = 0;
    std::vector<float> weight;        // [out, in] when held as float
    std::vector<uint16_t> halfWeight; // [out, in] when held as half floats
    std::vector<float> bias;          // [out] or empty

    /// Reads "<name>.weight" (and "<name>.bias" when `withBias`).
    static Linear load(const WeightFile& file, const std::string& name, int64_t out, int64_t in,
                       bool withBias = true, Storage storage = Storage::widened);

    /// One layer computing [a; b; c] (stacked outputs) from layers of the same
    /// input width and storage; a missing bias counts as zeros.
    static Linear stacked(const std::vector<const Linear*>& parts);

    /// y[rows, out] = x[rows, in] · Wᵀ + b.
    void forward(const float* x, size_t rows, float* y) const;
    /// y[rows, out] += x[rows, in] · Wᵀ + b (a residual connection).
    void forwardAccumulate(const float* x, size_t rows, float* y) const;

private:
    void apply(const float* x, size_t rows, float* y, bool accumulate) const;
};

/// Adds a bias vector to every row of y[rows, columns].
void addBiasRows(float* y, size_t rows, size_t columns, const float* bias);

} // namespace platform::ml
