#include "murmex/core/SingleFeaturePrediction.h"

#include "murmex/utilities/EngineSignposts.h"
#include "platform/ml/DictionaryFeatureProvider.h"
#include "platform/system/Cancellation.h"
#include "tessary_core/Logging.h"

namespace murmex {

std::optional<platform::ml::MultiArray> predictSingleFeature(const platform::ml::Model& model,
                                                             const std::string& inputName,
                                                             const platform::ml::MultiArray& input,
                                                             const std::string& outputName,
                                                             std::string_view intervalName,
                                                             const platform::system::Signposter& signposter) {
    platform::system::checkCancellation();
    platform::system::SignpostInterval interval = Signposts::beginSignpost(intervalName, signposter);
    struct EndInterval {
        std::string_view name;
        platform::system::SignpostInterval& interval;
        const platform::system::Signposter& signposter;
        ~EndInterval() { Signposts::endSignpost(name, interval, signposter); }
    } end{intervalName, interval, signposter};

    // The caller's array goes to the model as it is: a handle, not a copy.
    platform::ml::DictionaryFeatureProvider features;
    features.set(inputName, input);
    const auto output = model.prediction(features, platform::ml::PredictionOptions{});
    auto value = output ? output->featureValue(outputName) : std::nullopt;
    auto array = value ? value->multiArrayValue() : std::nullopt;
    if (!array) tessary::Logging::error("Model output \"" + outputName + "\" is missing or not a multi-array");
    return array;
}

}  // namespace murmex
