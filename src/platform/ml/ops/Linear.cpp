#include "platform/ml/ops/Linear.h"

#include "platform/ml/ModelManifest.h"
#include "platform/ml/WeightFile.h"
#include "platform/ml/kernels/Blas.h"
#include "platform/ml/kernels/Convert.h"
#include "platform/ml/kernels/HalfGemv.h"
#include "platform/ml/kernels/ThreadPool.h"

namespace platform::ml {

namespace {
// From this many rows on, a half-precision weight is widened before the product.
constexpr size_t kWidenRows = 8;
} // namespace

Linear Linear::load(const WeightFile& file, const std::string& name, int64_t out, int64_t in,
                    bool withBias, Storage storage) {
    Linear layer;
    layer.in = in;
    layer.out = out;
    const WeightEntry& entry = file.entry(name + ".weight", {out, in});
    if (storage == Storage::asStored && entry.dataType == ElementType::float16) {
        layer.halfWeight = file.halves(name + ".weight", {out, in});
    } else {
        layer.weight = file.floats(name + ".weight", {out, in});
    }
    if (withBias) layer.bias = file.floats(name + ".bias", {out});
    return layer;
}

Linear Linear::stacked(const std::vector<const Linear*>& parts) {
    Linear layer;
    layer.in = parts.front()->in;
    bool anyBias = false;
    // Parts stored in different precisions (a hand-made folder may mix them)
    // are stacked as floats.
    bool allHalf = true;
    for (const Linear* part : parts)
        allHalf = allHalf && !part->halfWeight.empty();
    for (const Linear* part : parts) {
        layer.out += part->out;
        anyBias = anyBias || !part->bias.empty();
        if (allHalf) {
            layer.halfWeight.insert(layer.halfWeight.end(), part->halfWeight.begin(),
                                    part->halfWeight.end());
        } else if (!part->halfWeight.empty()) {
            size_t start = layer.weight.size();
            layer.weight.resize(start + part->halfWeight.size());
            kernels::halfToFloat(part->halfWeight.data(), layer.weight.data() + start,
                                 part->halfWeight.size());
        } else {
            layer.weight.insert(layer.weight.end(), part->weight.begin(), part->weight.end());
        }
    }
    if (anyBias) {
        for (const Linear* part : parts) {
            if (part->bias.empty()) {
                layer.bias.insert(layer.bias.end(), static_cast<size_t>(part->out), 0.0f);
            } else {
                layer.bias.insert(layer.bias.end(), part->bias.begin(), part->bias.end());
            }
        }
    }
    return layer;
}

void Linear::forward(const float* x, size_t rows, float* y) const {
    apply(x, rows, y, false);
}

void Linear::forwardAccumulate(const float* x, size_t rows, float* y) const {
    apply(x, rows, y, true);
}

void Linear::apply(const float* x, size_t rows, float* y, bool accumulate) const {
    const size_t o = static_cast<size_t>(out), i = static_cast<size_t>(in);
    const float beta = accumulate ? 1.0f : 0.0f;
    if (!halfWeight.empty() && rows < kWidenRows) {
        for (size_t r = 0; r < rows; ++r) {
            kernels::gemvHalf(o, i, halfWeight.data(), i, x + r * i, y + r * o, accumulate);
        }
    } else if (!halfWeight.empty()) {
        // A product over many rows is compute-bound: widen the weight once for
        // this call into scratch memory kept by the thread, then multiply.
        thread_local std::vector<float> scratch;
        if (scratch.size() < halfWeight.size()) scratch.resize(halfWeight.size());
        float* wide =
            scratch.data(); // the pool's workers see this thread's buffer through the pointer
        kernels::ThreadPool::shared().parallelFor(o, 64, [&](size_t begin, size_t end) {
            kernels::halfToFloat(halfWeight.data() + begin * i, wide + begin * i,
                                 (end - begin) * i);
        });
        kernels::gemm(false, true, rows, o, i, 1.0f, x, i, wide, i, beta, y, o);
    } else if (rows == 1) {
        kernels::gemv(o, i, 1.0f, weight.data(), i, x, beta, y);
    } else {
        kernels::gemm(false, true, rows, o, i, 1.0f, x, i, weight.data(), i, beta, y, o);
    }
    if (!bias.empty()) addBiasRows(y, rows, o, bias.data());
}

void addBiasRows(float* y, size_t rows, size_t columns, const float* bias) {
    for (size_t r = 0; r < rows; ++r) {
        float* row = y + r * columns;
        for (size_t c = 0; c < columns; ++c)
            row[c] += bias[c];
    }
}

} // namespace platform::ml
