#include "platform/ml/layers/EncoderLayer.h"

#include "platform/ml/kernels/ThreadPool.h"
#include "platform/ml/ops/Workspace.h"

namespace platform::ml {

EncoderLayer EncoderLayer::load(const WeightFile& file, const std::string& prefix, int64_t width,
                                int64_t heads) {
    EncoderLayer layer;
    layer.attnLn = LayerNorm::load(file, prefix + ".attn_ln", width);
    layer.attn = MultiHeadAttention::load(file, prefix + ".attn", width, heads);
    layer.mlpLn = LayerNorm::load(file, prefix + ".mlp_ln", width);
    layer.fc1 = Linear::load(file, prefix + ".mlp.fc1", 4 * width, width);
    layer.fc2 = Linear::load(file, prefix + ".mlp.fc2", width, 4 * width);
    return layer;
}

void EncoderLayer::forward(float* x, size_t rows, Workspace& workspace) const {
    const size_t d = static_cast<size_t>(attn.width);
    auto& pool = kernels::ThreadPool::shared();
    Workspace::Scope scope(workspace);
    float* h = workspace.floats(rows * d);
    pool.parallelFor(rows, 32, [&](size_t begin, size_t end) {
        attnLn.forward(x + begin * d, h + begin * d, end - begin);
    });
    attn.selfAttendAll(h, rows, x, workspace);

    pool.parallelFor(rows, 32, [&](size_t begin, size_t end) {
        mlpLn.forward(x + begin * d, h + begin * d, end - begin);
    });
    float* hidden = workspace.floats(rows * 4 * d);
    fc1.forwardGelu(h, rows, hidden);
    fc2.forwardAccumulate(hidden, rows, x);
}

} // namespace platform::ml
