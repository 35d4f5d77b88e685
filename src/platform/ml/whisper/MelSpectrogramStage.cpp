#include "platform/ml/whisper/MelSpectrogramStage.h"

#include "platform/ml/WeightFile.h"
#include "platform/ml/kernels/Blas.h"
#include "platform/ml/kernels/Convert.h"
#include "platform/ml/kernels/ThreadPool.h"
#include "platform/ml/whisper/WhisperLayout.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace platform::ml {

namespace {
constexpr int64_t kFft = WhisperDimensions::kFftLength;
constexpr int64_t kHop = WhisperDimensions::kHopLength;
constexpr int64_t kBins = WhisperDimensions::kFrequencyBins;
} // namespace

MelSpectrogramStage::MelSpectrogramStage(const WhisperDimensions& dims, const WeightFile& weights)
    : dims_(dims), filters_(weights.floats("mel_filters", {dims.nMels, kBins})) {
    // The real DFT of a windowed frame as one matrix product: column k holds
    // w[n]·cos(2πkn/N), column bins + k holds −w[n]·sin(2πkn/N).
    basis_.resize(static_cast<size_t>(kFft * 2 * kBins));
    for (int64_t n = 0; n < kFft; ++n) {
        double window =
            0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(n) / kFft);
        for (int64_t k = 0; k < kBins; ++k) {
            // Reduce k·n modulo N first so that the angle stays exact.
            double angle = 2.0 * std::numbers::pi * static_cast<double>((k * n) % kFft) / kFft;
            basis_[static_cast<size_t>(n * 2 * kBins + k)] =
                static_cast<float>(window * std::cos(angle));
            basis_[static_cast<size_t>(n * 2 * kBins + kBins + k)] =
                static_cast<float>(-window * std::sin(angle));
        }
    }
}

void MelSpectrogramStage::compute(const float* samples, float* out, Workspace& workspace) const {
    const int64_t length = dims_.nSamples();
    const int64_t frames = dims_.nFrames();
    const int64_t mels = dims_.nMels;
    const int64_t pad = kFft / 2;
    auto& pool = kernels::ThreadPool::shared();

    // Reflect padding by half a frame on both sides (the edge sample itself is not repeated).
    float* padded = workspace.floats(static_cast<size_t>(length + 2 * pad));
    std::memcpy(padded + pad, samples, static_cast<size_t>(length) * sizeof(float));
    for (int64_t i = 0; i < pad; ++i) {
        padded[i] = samples[pad - i];
        padded[pad + length + i] = samples[length - 2 - i];
    }

    float* framed = workspace.floats(static_cast<size_t>(frames * kFft));
    pool.parallelFor(static_cast<size_t>(frames), 64, [&](size_t begin, size_t end) {
        for (size_t t = begin; t < end; ++t) {
            std::memcpy(framed + t * kFft, padded + t * kHop, kFft * sizeof(float));
        }
    });

    float* spectrum = workspace.floats(static_cast<size_t>(frames * 2 * kBins));
    kernels::gemm(false, false, static_cast<size_t>(frames), 2 * kBins, kFft, 1.0f, framed, kFft,
                  basis_.data(), 2 * kBins, 0.0f, spectrum, 2 * kBins);

    float* power = workspace.floats(static_cast<size_t>(frames * kBins));
    pool.parallelFor(static_cast<size_t>(frames), 64, [&](size_t begin, size_t end) {
        for (size_t t = begin; t < end; ++t) {
            const float* row = spectrum + t * 2 * kBins;
            float* p = power + t * kBins;
            for (int64_t k = 0; k < kBins; ++k)
                p[k] = row[k] * row[k] + row[kBins + k] * row[kBins + k];
        }
    });

    // mel[m][t] = Σ_k filters[m][k] · power[t][k]: lands directly channel-major.
    kernels::gemm(false, true, static_cast<size_t>(mels), static_cast<size_t>(frames), kBins, 1.0f,
                  filters_.data(), kBins, power, kBins, 0.0f, out, static_cast<size_t>(frames));

    const size_t count = static_cast<size_t>(mels * frames);
    float maximum = -INFINITY;
    for (size_t i = 0; i < count; ++i) {
        out[i] = std::log10(std::max(out[i], 1e-10f));
        maximum = std::max(maximum, out[i]);
    }
    const float floor = maximum - 8.0f;
    for (size_t i = 0; i < count; ++i)
        out[i] = (std::max(out[i], floor) + 4.0f) / 4.0f;
}

std::map<std::string, MultiArray>
MelSpectrogramStage::run(const std::map<std::string, MultiArray>& inputs,
                         const PredictionOptions&) const {
    const MultiArray& audio = inputs.at(WhisperLayout::kAudio);
    auto workspace = workspaces_.acquire();
    float* mel = workspace->floats(static_cast<size_t>(dims_.nMels * dims_.nFrames()));
    compute(audio.data<float>(), mel, *workspace);
    MultiArray output({1, dims_.nMels, 1, dims_.nFrames()}, ElementType::float16);
    kernels::floatToHalf(mel, output.data<uint16_t>(), static_cast<size_t>(output.count()));
    return {{WhisperLayout::kMelFeatures, output}};
}

} // namespace platform::ml
