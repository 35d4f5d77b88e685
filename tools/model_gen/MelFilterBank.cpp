#include "model_gen/MelFilterBank.h"

#include "platform/ml/whisper/WhisperDimensions.h"

#include <algorithm>
#include <cmath>

namespace modelgen {

namespace {

constexpr double kLinearStep = 200.0 / 3.0; // Hz per mel below the break
constexpr double kBreakHz = 1000.0;
constexpr double kBreakMel = kBreakHz / kLinearStep; // 15
const double kLogStep = std::log(6.4) / 27.0;

double hzToMel(double hz) {
    return hz < kBreakHz ? hz / kLinearStep : kBreakMel + std::log(hz / kBreakHz) / kLogStep;
}

double melToHz(double mel) {
    return mel < kBreakMel ? mel * kLinearStep : kBreakHz * std::exp(kLogStep * (mel - kBreakMel));
}

} // namespace

std::vector<float> melFilterBank(int64_t nMels) {
    using platform::ml::WhisperDimensions;
    const int64_t bins = WhisperDimensions::kFrequencyBins;
    const double sampleRate = static_cast<double>(WhisperDimensions::kSampleRate);
    std::vector<double> frequencies(static_cast<size_t>(bins));
    for (int64_t k = 0; k < bins; ++k) {
        frequencies[static_cast<size_t>(k)] =
            static_cast<double>(k) * sampleRate / WhisperDimensions::kFftLength;
    }
    // nMels + 2 band edges, evenly spaced in mel from 0 Hz to the Nyquist frequency.
    const double top = hzToMel(sampleRate / 2);
    std::vector<double> edges(static_cast<size_t>(nMels + 2));
    for (int64_t i = 0; i < nMels + 2; ++i) {
        edges[static_cast<size_t>(i)] =
            melToHz(top * static_cast<double>(i) / static_cast<double>(nMels + 1));
    }
    std::vector<float> filters(static_cast<size_t>(nMels * bins));
    for (int64_t m = 0; m < nMels; ++m) {
        const double left = edges[static_cast<size_t>(m)];
        const double center = edges[static_cast<size_t>(m + 1)];
        const double right = edges[static_cast<size_t>(m + 2)];
        const double norm = 2.0 / (right - left);
        for (int64_t k = 0; k < bins; ++k) {
            const double f = frequencies[static_cast<size_t>(k)];
            const double lower = (f - left) / (center - left);
            const double upper = (right - f) / (right - center);
            filters[static_cast<size_t>(m * bins + k)] =
                static_cast<float>(std::max(0.0, std::min(lower, upper)) * norm);
        }
    }
    return filters;
}

} // namespace modelgen
