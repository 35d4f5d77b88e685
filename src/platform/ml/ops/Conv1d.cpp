#include "platform/ml/ops/Conv1d.h"

#include "platform/ml/WeightFile.h"
#include "platform/ml/kernels/ThreadPool.h"

namespace platform::ml {

Conv1d Conv1d::load(const WeightFile& file, const std::string& name, int64_t out, int64_t in,
                    int64_t stride) {
    Conv1d layer;
    layer.in = in;
    layer.out = out;
    layer.stride = stride;
    layer.projection = Linear::load(file, name, out, in * 3, true, {out, in, 3});
    return layer;
}

void Conv1d::forward(const float* x, int64_t length, bool channelMajor, float* columns,
                     float* y) const {
    const int64_t outLength = outputLength(length);
    const int64_t width = in * 3;
    kernels::ThreadPool::shared().parallelFor(
        static_cast<size_t>(outLength), 64, [&](size_t begin, size_t end) {
            for (int64_t t = static_cast<int64_t>(begin); t < static_cast<int64_t>(end); ++t) {
                float* row = columns + t * width;
                for (int64_t k = 0; k < 3; ++k) {
                    int64_t source = t * stride + k - 1;
                    bool inside = source >= 0 && source < length;
                    for (int64_t c = 0; c < in; ++c) {
                        float value = 0.0f;
                        if (inside)
                            value = channelMajor ? x[c * length + source] : x[source * in + c];
                        row[c * 3 + k] = value;
                    }
                }
            }
        });
    projection.forward(columns, static_cast<size_t>(outLength), y);
}

} // namespace platform::ml
