#pragma once
// One-dimensional convolution with kernel width 3 and padding 1, computed as
// a matrix product over unfolded input windows.

#include "platform/ml/ops/Linear.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform::ml {

class WeightFile;

struct Conv1d {
    int64_t in = 0;
    int64_t out = 0;
    int64_t stride = 1;
    /// The kernel as a layer over unfolded windows: weight [out, in·3] (the
    /// stored [out, in, 3]) and bias [out].
    Linear projection;

    static Conv1d load(const WeightFile& file, const std::string& name, int64_t out, int64_t in,
                       int64_t stride);

    /// Output length for an input of `length` positions.
    int64_t outputLength(int64_t length) const { return (length - 1) / stride + 1; }

    /// y[outputLength, out] from x laid out [in, length] (channel-major) or
    /// [length, in] (time-major). `columns` is scratch of outputLength·in·3 floats.
    void forward(const float* x, int64_t length, bool channelMajor, float* columns, float* y) const;
};

} // namespace platform::ml
