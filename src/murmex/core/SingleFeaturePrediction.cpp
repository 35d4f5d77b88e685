#include "murmex/core/SingleFeaturePrediction.h"

#include "murmex/base/EngineSignposts.h"
#include "platform/system/Cancellation.h"
#include "tessary_core/Logging.h"

namespace murmex {

std::optional<platform::ml::MultiArray>
predictSingleFeature(const platform::ml::Model& model, const platform::ml::FeatureProvider& input,
                     const std::string& outputName, std::string_view intervalName,
                     const platform::system::Signposter& signposter) {
    platform::system::checkCancellation();
    platform::system::SignpostInterval interval =
        Signposts::beginSignpost(intervalName, signposter);
    struct EndInterval {
        std::string_view name;
        platform::system::SignpostInterval& interval;
        const platform::system::Signposter& signposter;
        ~EndInterval() { Signposts::endSignpost(name, interval, signposter); }
    } end{intervalName, interval, signposter};

    const auto output = model.prediction(input, platform::ml::PredictionOptions{});
    auto value = output ? output->featureValue(outputName) : std::nullopt;
    auto array = value ? value->multiArrayValue() : std::nullopt;
    if (!array)
        TESSARY_LOG(error, "Model output \"" + outputName + "\" is missing or not a multi-array");
    return array;
}

} // namespace murmex
