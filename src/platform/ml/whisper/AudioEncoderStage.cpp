#include "platform/ml/whisper/AudioEncoderStage.h"

#include "platform/ml/WeightFile.h"
#include "platform/ml/kernels/Activation.h"
#include "platform/ml/kernels/Convert.h"
#include "platform/ml/kernels/ThreadPool.h"
#include "platform/ml/whisper/WhisperLayout.h"

#include <algorithm>

namespace platform::ml {

AudioEncoderStage::AudioEncoderStage(const WhisperDimensions& dims, const WeightFile& weights)
    : dims_(dims), conv1_(Conv1d::load(weights, "conv1", dims.nAudioState, dims.nMels, 1)),
      conv2_(Conv1d::load(weights, "conv2", dims.nAudioState, dims.nAudioState, 2)),
      positions_(weights.floats("positional_embedding", {dims.nAudioCtx, dims.nAudioState})),
      lnPost_(LayerNorm::load(weights, "ln_post", dims.nAudioState)) {
    for (int64_t i = 0; i < dims.nAudioLayer; ++i) {
        layers_.push_back(EncoderLayer::load(weights, "layers." + std::to_string(i),
                                             dims.nAudioState, dims.nAudioHead));
    }
}

std::map<std::string, MultiArray>
AudioEncoderStage::run(const std::map<std::string, MultiArray>& inputs,
                       const PredictionOptions&) const {
    const MultiArray& mel = inputs.at(WhisperLayout::kMelFeatures);
    const size_t d = static_cast<size_t>(dims_.nAudioState);
    const size_t frames = static_cast<size_t>(dims_.nFrames());
    const size_t positions = static_cast<size_t>(dims_.nAudioCtx);
    auto& pool = kernels::ThreadPool::shared();
    auto workspace = workspaces_.acquire();

    const size_t melCount = static_cast<size_t>(mel.count());
    float* melFloats = workspace->floats(melCount);
    pool.parallelFor(melCount, size_t{1} << 14, [&](size_t b, size_t e) {
        kernels::halfToFloat(mel.data<uint16_t>() + b, melFloats + b, e - b);
    });

    float* columns = workspace->floats(frames * 3 * std::max(d, static_cast<size_t>(dims_.nMels)));
    float* first = workspace->floats(frames * d);
    conv1_.forward(melFloats, static_cast<int64_t>(frames), true, columns, first);
    pool.parallelFor(frames, 64,
                     [&](size_t b, size_t e) { kernels::gelu(first + b * d, (e - b) * d); });

    float* x = workspace->floats(positions * d);
    conv2_.forward(first, static_cast<int64_t>(frames), false, columns, x);
    pool.parallelFor(positions, 64, [&](size_t b, size_t e) {
        kernels::gelu(x + b * d, (e - b) * d);
        for (size_t i = b * d; i < e * d; ++i)
            x[i] += positions_[i];
    });

    for (const EncoderLayer& layer : layers_)
        layer.forward(x, positions, *workspace);
    pool.parallelFor(positions, 32,
                     [&](size_t b, size_t e) { lnPost_.forward(x + b * d, x + b * d, e - b); });

    // [positions, width] -> [1, width, 1, positions], channel-major, rounded to half.
    MultiArray output({1, dims_.nAudioState, 1, dims_.nAudioCtx}, ElementType::float16);
    uint16_t* out = output.data<uint16_t>();
    float* transposed = columns; // no longer needed; holds at least width·positions floats
    pool.parallelFor(d, 16, [&](size_t b, size_t e) {
        for (size_t c = b; c < e; ++c) {
            for (size_t t = 0; t < positions; ++t)
                transposed[c * positions + t] = x[t * d + c];
        }
        kernels::floatToHalf(transposed + b * positions, out + b * positions, (e - b) * positions);
    });
    return {{WhisperLayout::kEncoderOutput, output}};
}

} // namespace platform::ml
