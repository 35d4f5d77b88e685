#include "platform/ml/Model.h"

#include "platform/ml/DictionaryFeatureProvider.h"
#include "platform/ml/ModelError.h"
#include "platform/ml/ModelManifest.h"
#include "platform/ml/ShapeText.h"
#include "platform/ml/WeightFile.h"
#include "platform/ml/whisper/AudioEncoderStage.h"
#include "platform/ml/whisper/ContextPrefillStage.h"
#include "platform/ml/whisper/MelSpectrogramStage.h"
#include "platform/ml/whisper/TextDecoderStage.h"
#include "platform/ml/whisper/WhisperLayout.h"

#include <algorithm>

namespace platform::ml {

namespace {

std::string featureText(const FeatureDescription& feature) {
    const MultiArrayConstraint& constraint = feature.multiArrayConstraint.value();
    return "\"" + feature.name + "\" " + shapeText(constraint.shape) + " " +
           std::string(elementTypeName(constraint.dataType));
}

// The declared features must be exactly the ones the network reads and writes.
void checkFeatures(const std::vector<FeatureDescription>& declared,
                   const std::vector<FeatureDescription>& expected, const char* what,
                   const std::filesystem::path& file) {
    auto fail = [&](const std::string& problem) {
        throw ModelError(ModelError::Kind::invalidFormat,
                         "Invalid model file " + file.string() + ": " + problem);
    };
    if (declared.size() != expected.size()) {
        fail(std::string("declares ") + std::to_string(declared.size()) + " " + what +
             " where the network has " + std::to_string(expected.size()));
    }
    for (const FeatureDescription& want : expected) {
        auto it = std::find_if(declared.begin(), declared.end(),
                               [&](const FeatureDescription& f) { return f.name == want.name; });
        if (it == declared.end()) fail(std::string("the ") + what + " lack " + featureText(want));
        if (it->multiArrayConstraint->shape != want.multiArrayConstraint->shape ||
            it->multiArrayConstraint->dataType != want.multiArrayConstraint->dataType) {
            fail(std::string("declares ") + featureText(*it) + " where the network has " +
                 featureText(want));
        }
    }
}

} // namespace

class Model::Impl {
public:
    std::filesystem::path folder;
    ModelConfiguration configuration;
    ModelDescription description;
    std::unique_ptr<Stage> stage;
};

Model::Model(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Model::~Model() = default;

std::shared_ptr<Model> Model::load(const std::filesystem::path& folder,
                                   const ModelConfiguration& configuration) {
    ModelManifest manifest = ModelManifest::read(folder);
    const std::filesystem::path manifestFile = folder / ModelManifest::kManifestFileName;
    auto stageKind = WhisperLayout::stageForKind(manifest.kind);
    if (!stageKind) {
        throw ModelError(ModelError::Kind::unsupported, "Unsupported model kind \"" +
                                                            manifest.kind + "\" in " +
                                                            manifestFile.string());
    }
    WhisperDimensions dims = WhisperDimensions::readFrom(manifest, manifestFile.string());
    WhisperLayout::PrefillSizes prefill;
    if (*stageKind == WhisperStage::textDecoderContextPrefill) {
        auto read = [&](const char* name, int64_t& into) {
            auto value = manifest.integer(name);
            if (!value || *value <= 0 || *value > (1 << 24)) {
                throw ModelError(ModelError::Kind::invalidFormat,
                                 "Invalid model file " + manifestFile.string() +
                                     ": hyper-parameter \"" + name +
                                     "\" is missing or out of range");
            }
            into = *value;
        };
        read("prefill_first_language_token", prefill.firstLanguageToken);
        read("prefill_languages", prefill.languages);
        read("prefill_length", prefill.length);
    }
    checkFeatures(manifest.inputs, WhisperLayout::inputs(*stageKind, dims, prefill), "inputs",
                  manifestFile);
    checkFeatures(manifest.outputs, WhisperLayout::outputs(*stageKind, dims, prefill), "outputs",
                  manifestFile);

    WeightFile weights(folder / ModelManifest::kWeightsFileName, manifest);
    auto impl = std::make_unique<Impl>();
    switch (*stageKind) {
    case WhisperStage::melSpectrogram:
        impl->stage = std::make_unique<MelSpectrogramStage>(dims, weights);
        break;
    case WhisperStage::audioEncoder:
        impl->stage = std::make_unique<AudioEncoderStage>(dims, weights);
        break;
    case WhisperStage::textDecoder:
        impl->stage = std::make_unique<TextDecoderStage>(dims, weights);
        break;
    case WhisperStage::textDecoderContextPrefill:
        impl->stage = std::make_unique<ContextPrefillStage>(dims, prefill, weights);
        break;
    }
    impl->folder = folder;
    impl->configuration = configuration;
    for (const FeatureDescription& feature : manifest.inputs) {
        impl->description.inputDescriptionsByName[feature.name] = feature;
    }
    for (const FeatureDescription& feature : manifest.outputs) {
        impl->description.outputDescriptionsByName[feature.name] = feature;
    }
    impl->description.metadata["kind"] = manifest.kind;
    impl->description.metadata["name"] = folder.filename().string();
    return std::shared_ptr<Model>(new Model(std::move(impl)));
}

const ModelDescription& Model::description() const {
    return impl_->description;
}

const ModelConfiguration& Model::configuration() const {
    return impl_->configuration;
}

const std::filesystem::path& Model::folder() const {
    return impl_->folder;
}

std::shared_ptr<FeatureProvider> Model::prediction(const FeatureProvider& input,
                                                   const PredictionOptions& options) const {
    std::map<std::string, MultiArray> arrays;
    for (const auto& [inputName, description] : impl_->description.inputDescriptionsByName) {
        const std::string& name = inputName; // a plain reference lambdas may capture
        auto fail = [&](const std::string& problem) {
            throw ModelError(ModelError::Kind::invalidInput, "Input \"" + name + "\" " + problem);
        };
        std::optional<FeatureValue> value = input.featureValue(name);
        if (!value) fail("is missing");
        std::optional<MultiArray> array = value->multiArrayValue();
        if (!array || !array->isValid()) fail("must be a multi-array");
        const MultiArrayConstraint& constraint = *description.multiArrayConstraint;
        if (array->shape() != constraint.shape) {
            fail("has shape " + shapeText(array->shape()) + " but the model takes " +
                 shapeText(constraint.shape));
        }
        if (array->dataType() != constraint.dataType) {
            fail("has element type " + std::string(elementTypeName(array->dataType())) +
                 " but the model takes " + std::string(elementTypeName(constraint.dataType)));
        }
        // The networks read contiguous memory; a strided view is gathered first.
        arrays.emplace(name, array->isContiguous() ? *array : array->copy());
    }
    std::map<std::string, MultiArray> outputs = impl_->stage->run(arrays, options);
    auto result = std::make_shared<DictionaryFeatureProvider>();
    for (auto& [name, array] : outputs)
        result->set(name, FeatureValue(std::move(array)));
    return result;
}

} // namespace platform::ml
