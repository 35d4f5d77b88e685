#include "murmex/core/text/TimestampRulesFilter.h"

#include "murmex/core/text/LogitsView.h"
#include "platform/ml/kernels/Convert.h"
#include "platform/system/Float16.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace murmex {
namespace {

using platform::system::Float16;

constexpr float kNegativeInfinity = -std::numeric_limits<float>::infinity();

float roundToHalf(float value) {
    return platform::system::Float16::toFloat(platform::system::Float16::fromFloat(value));
}

} // namespace

TimestampRulesFilter::TimestampRulesFilter(SpecialTokens specialTokens, int sampleBegin,
                                           std::optional<int> maxInitialTimestampIndex,
                                           bool isModelMultilingual)
    : specialTokens(specialTokens), sampleBegin(sampleBegin),
      maxInitialTimestampIndex(maxInitialTimestampIndex), isModelMultilingual(isModelMultilingual) {
}

std::optional<int>
TimestampRulesFilter::effectiveSampleBegin(const std::vector<int>& tokens) const {
    if (!isModelMultilingual) return sampleBegin;
    const size_t limit = std::min<size_t>(tokens.size(), 3);
    for (size_t i = 0; i < limit; ++i) {
        if (tokens[i] == specialTokens.transcribeToken ||
            tokens[i] == specialTokens.translateToken) {
            return std::max(static_cast<int>(i) + 1, sampleBegin);
        }
    }
    return std::nullopt;
}

platform::ml::MultiArray TimestampRulesFilter::filterLogits(platform::ml::MultiArray logits,
                                                            const std::vector<int>& tokens) {
    const std::optional<int> begin = effectiveSampleBegin(tokens);
    const auto count = static_cast<int64_t>(tokens.size());
    if (!begin || count < *begin) return logits;

    LogitsView view(logits);
    const int64_t vocabulary = view.size();
    const int64_t timeBegin = specialTokens.timeTokenBegin;
    view.suppress(specialTokens.noTimestampsToken);

    if (count > *begin) {
        const int last = tokens.back();
        const bool lastWasTimestamp = last >= timeBegin;
        const bool penultimateWasTimestamp =
            count - *begin < 2 || tokens[static_cast<size_t>(count - 2)] >= timeBegin;
        bool timestampAfterText = false;
        if (lastWasTimestamp) {
            if (penultimateWasTimestamp) {
                view.suppressRange(timeBegin, vocabulary); // a pair is complete: text must follow
            } else {
                view.suppressRange(0, specialTokens.endToken); // close the pair, or end
                timestampAfterText = true;
            }
        }
        // Timestamps never go back; after a completed pair they must advance.
        for (int64_t i = count - 1; i >= *begin; --i) {
            const int token = tokens[static_cast<size_t>(i)];
            if (token >= timeBegin) {
                view.suppressRange(timeBegin, timestampAfterText ? token : token + 1);
                break;
            }
        }
    } else if (maxInitialTimestampIndex) {
        // The first sampled timestamp may not lie later than the cap.
        const int64_t lastAllowed = timeBegin + std::max(*maxInitialTimestampIndex, -1);
        view.suppressRange(lastAllowed + 1, vocabulary);
    }

    if (sumOfProbabilityOverTimestampsIsAboveAnyOtherToken(logits))
        view.suppressRange(0, timeBegin);
    return logits;
}

bool TimestampRulesFilter::sumOfProbabilityOverTimestampsIsAboveAnyOtherToken(
    const platform::ml::MultiArray& logits) {
    platform::ml::MultiArray handle = logits;
    const logits_math::Row row = LogitsView(handle).row(scratch_);
    const auto vocabulary = static_cast<int64_t>(row.size);
    const int64_t split = std::clamp<int64_t>(specialTokens.timeTokenBegin, 0, vocabulary);
    if (split == 0 || split == vocabulary) return false;
    const logits_math::Row text = row.slice(0, static_cast<size_t>(split));
    const logits_math::Row timestamps = row.slice(static_cast<size_t>(split), row.size);

    // Log-softmax of the filtered logits, the scores held in half precision.
    const float textMaximum = logits_math::maximum(text);
    const float timestampRawMaximum = logits_math::maximum(timestamps);
    const float maximum = std::max(textMaximum, timestampRawMaximum);
    if (!std::isfinite(maximum)) return false;
    const auto logSum = static_cast<float>(std::log(logits_math::sumOfExponentials(row, maximum)));
    auto logProbability = [&](float v) { return roundToHalf(v - maximum - logSum); };

    // Rounding is monotonic, so the largest timestamp log-probability is
    // that of the largest timestamp score.
    const float timestampMax = timestampRawMaximum == kNegativeInfinity
                                   ? kNegativeInfinity
                                   : logProbability(timestampRawMaximum);
    float timestampScore = kNegativeInfinity;
    if (std::isfinite(timestampMax)) {
        // The timestamp log-probabilities, each rounded to half precision.
        const size_t count = timestamps.size;
        timestampLogProbs_.resize(count);
        for (size_t i = 0; i < count; ++i) {
            const float v =
                timestamps.half ? Float16::toFloat(timestamps.half[i]) : timestamps.single[i];
            timestampLogProbs_[i] = v == v ? v - maximum - logSum : kNegativeInfinity;
        }
        timestampHalves_.resize(count);
        platform::ml::kernels::floatToHalf(timestampLogProbs_.data(), timestampHalves_.data(),
                                           count);
        const double total = logits_math::sumOfExponentials(
            logits_math::Row{timestampHalves_.data(), nullptr, count}, timestampMax);
        timestampScore = roundToHalf(static_cast<float>(timestampMax + std::log(total)));
    }
    const float textScore =
        textMaximum == kNegativeInfinity ? kNegativeInfinity : logProbability(textMaximum);
    return timestampScore > textScore;
}

} // namespace murmex
