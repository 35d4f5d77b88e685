#include "platform/ml/ops/Linear.h"

#include "platform/ml/ModelManifest.h"
#include "platform/ml/WeightFile.h"
#include "platform/ml/kernels/Activation.h"
#include "platform/ml/kernels/Blas.h"
#include "platform/ml/kernels/Convert.h"
#include "platform/ml/kernels/ThreadPool.h"

namespace platform::ml {

namespace {
// From this many rows on, a half-precision weight is widened before the product.
constexpr size_t kWidenRows = 8;
} // namespace

Linear Linear::load(const WeightFile& file, const std::string& name, int64_t out, int64_t in,
                    bool withBias, std::vector<int64_t> storedShape) {
    Linear layer;
    layer.in = in;
    layer.out = out;
    if (storedShape.empty()) storedShape = {out, in};
    if (file.entry(name + ".weight", storedShape).dataType == ElementType::float16) {
        layer.halfWeight = file.halves(name + ".weight", storedShape);
    } else {
        layer.weight = file.floats(name + ".weight", storedShape);
    }
    if (withBias) layer.bias = file.floats(name + ".bias", {out});
    return layer;
}

void Linear::forward(const float* x, size_t rows, float* y) const {
    apply(x, rows, y, false);
}

void Linear::forwardAccumulate(const float* x, size_t rows, float* y) const {
    apply(x, rows, y, true);
}

void Linear::forwardGelu(const float* x, size_t rows, float* y) const {
    apply(x, rows, y, false, true);
}

kernels::HalfProduct Linear::product(const float* x, float* y, bool accumulate) const {
    kernels::HalfProduct product;
    product.weights = halfWeight.data();
    product.rows = static_cast<size_t>(out);
    product.columns = product.stride = static_cast<size_t>(in);
    product.x = x;
    product.y = y;
    product.bias = bias.empty() ? nullptr : bias.data();
    product.accumulate = accumulate;
    return product;
}

const float* Linear::wideWeight(float* scratch) const {
    if (halfWeight.empty()) return weight.data();
    const size_t i = static_cast<size_t>(in);
    kernels::ThreadPool::shared().parallelFor(
        static_cast<size_t>(out), 64, [&](size_t begin, size_t end) {
            kernels::halfToFloat(halfWeight.data() + begin * i, scratch + begin * i,
                                 (end - begin) * i);
        });
    return scratch;
}

void Linear::apply(const float* x, size_t rows, float* y, bool accumulate, bool gelu) const {
    const size_t o = static_cast<size_t>(out), i = static_cast<size_t>(in);
    const float beta = accumulate ? 1.0f : 0.0f;
    if (!halfWeight.empty() && rows < kWidenRows) {
        for (size_t r = 0; r < rows; ++r) {
            kernels::HalfProduct one = product(x + r * i, y + r * o, accumulate);
            one.gelu = gelu;
            kernels::gemvHalf({&one, 1});
        }
        return; // the bias and GELU are part of the product
    }
    // Products over many rows are compute-bound: a half weight is widened
    // part by part, each thread widening what its share needs; the bias is
    // added while each share of y is in cache.
    const float* biasData = bias.empty() ? nullptr : bias.data();
    if (!halfWeight.empty()) {
        kernels::gemmWeights(rows, o, i, x, i, halfWeight.data(), i, beta, y, o, biasData, gelu);
    } else if (rows == 1) {
        kernels::gemv(o, i, 1.0f, weight.data(), i, x, beta, y);
        if (biasData) addBiasRows(y, rows, o, biasData);
        if (gelu) kernels::gelu(y, o);
    } else {
        kernels::gemmWeights(rows, o, i, x, i, weight.data(), i, beta, y, o, biasData, gelu);
    }
}

void forwardVectors(std::span<const LinearCall> calls) {
    constexpr size_t kBatch = 8;
    kernels::HalfProduct products[kBatch];
    size_t count = 0;
    for (const LinearCall& call : calls) {
        if (call.layer->halfWeight.empty() || count == kBatch) {
            call.layer->apply(call.x, 1, call.y, call.accumulate, call.gelu);
            continue;
        }
        products[count] = call.layer->product(call.x, call.y, call.accumulate);
        products[count].gelu = call.gelu;
        ++count;
    }
    kernels::gemvHalf({products, count});
}

void addBiasRows(float* y, size_t rows, size_t columns, const float* bias) {
    for (size_t r = 0; r < rows; ++r) {
        float* row = y + r * columns;
        for (size_t c = 0; c < columns; ++c)
            row[c] += bias[c];
    }
}

} // namespace platform::ml
