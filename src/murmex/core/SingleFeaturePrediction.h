#pragma once
// One prediction of a model stage that gives one multi-array: the shared body
// of the mel-spectrogram and audio-encoder stages.

#include "platform/ml/FeatureProvider.h"
#include "platform/ml/Model.h"
#include "platform/ml/MultiArray.h"
#include "platform/system/Signpost.h"

#include <optional>
#include <string>
#include <string_view>

namespace murmex {

/// Runs `model` with the features of `input` and returns its output
/// `outputName`, inside a signpost interval `intervalName` that is ended also
/// when the prediction throws. Throws CancellationError, before the interval
/// begins, when the running task is cancelled; prediction errors pass
/// unchanged. Nothing, with an error line in the engine log, when the output
/// is missing or not a multi-array.
std::optional<platform::ml::MultiArray>
predictSingleFeature(const platform::ml::Model& model, const platform::ml::FeatureProvider& input,
                     const std::string& outputName, std::string_view intervalName,
                     const platform::system::Signposter& signposter);

} // namespace murmex
