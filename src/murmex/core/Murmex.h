#pragma once
// The speech engine: owns one instance of every pipeline component, the
// model and tokenizer folders, the loaded tokenizer and the model life cycle,
// and transcribes sample arrays and audio files.
//
// Create it with Murmex::create(config): the object is constructed first and
// its (overridable) initialisation runs after, so a subclass's steps take part.

#include "murmex/base/Constants.h"
#include "murmex/core/AudioEncoding.h"
#include "murmex/core/FeatureExtracting.h"
#include "murmex/core/ModelComputeOptions.h"
#include "murmex/core/ModelSupport.h"
#include "murmex/core/ModelSupportConfig.h"
#include "murmex/core/ModelVariant.h"
#include "murmex/core/MurmexConfig.h"
#include "murmex/core/TextDecoding.h"
#include "murmex/core/TranscribeTask.h"
#include "murmex/core/WhisperTokenizer.h"
#include "murmex/core/audio/AudioInputConfig.h"
#include "murmex/core/audio/AudioProcessing.h"
#include "murmex/core/text/SegmentSeeking.h"
#include "murmex/records/DecodingOptions.h"
#include "murmex/records/TranscriptionResult.h"
#include "murmex/records/TranscriptionState.h"
#include "murmex/records/TranscriptionTimings.h"
#include "platform/system/Outcome.h"
#include "platform/system/Progress.h"
#include "tessary_core/ModelState.h"
#include "tessary_core/PropertyLock.h"

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace hub {
class HubApi;
}

namespace murmex {

class Murmex : public std::enable_shared_from_this<Murmex> {
public:
    using ModelStateCallback =
        std::function<void(std::optional<tessary::ModelState>, tessary::ModelState)>;
    using TranscriptionStateCallback = std::function<void(TranscriptionState)>;

    static constexpr int sampleRate = Constants::sampleRate;
    static constexpr int hopLength = Constants::hopLength;
    static constexpr float secondsPerTimeToken = Constants::secondsPerTimeToken;

    /// Builds an engine from the configuration: components, model folder,
    /// optional prewarm and load. Throws WhisperError or the stages' errors.
    static std::shared_ptr<Murmex> create(const MurmexConfig& config);

    virtual ~Murmex();
    Murmex(const Murmex&) = delete;
    Murmex& operator=(const Murmex&) = delete;

    // Life cycle.
    virtual void initialize(const MurmexConfig& config);
    virtual void setupModels(const std::optional<std::string>& model,
                             const std::optional<std::string>& downloadBase,
                             const std::optional<std::string>& modelRepo,
                             const std::optional<std::string>& modelToken,
                             const std::optional<std::string>& modelFolder, bool download,
                             const std::string& remoteConfigName, const std::string& endpoint);
    virtual void prewarmModels();
    virtual void loadModels(bool prewarmMode = false);
    virtual void loadTokenizerIfNeeded();
    virtual void unloadModels();
    virtual void clearState();
    virtual void loggingCallback(std::function<void(const std::string&)> callback);

    /// Finds the variant's folder in a hub repository (the one folder whose
    /// name ends in the variant, else the one that also holds "openai") and
    /// mirrors it into the hub cache; returns that folder.
    static std::filesystem::path
    download(const std::string& variant, const std::optional<std::filesystem::path>& downloadBase,
             bool useBackgroundSession, const std::string& repo,
             const std::optional<std::string>& token, const std::string& endpoint,
             const std::function<void(const platform::system::Progress&)>& progressCallback = {});

    // Model catalogue.
    static std::string deviceName();
    static ModelSupport recommendedModels();
    /// The repository's model-support document (`remoteConfigName`), or the
    /// built-in table when it cannot be fetched or read. Never fails.
    static ModelSupportConfig
    fetchModelSupportConfig(const std::string& repo,
                            const std::optional<std::filesystem::path>& downloadBase,
                            const std::optional<std::string>& token,
                            const std::string& remoteConfigName, const std::string& endpoint);
    /// The models of that table for this device.
    static ModelSupport
    recommendedRemoteModels(const std::string& repo,
                            const std::optional<std::filesystem::path>& downloadBase,
                            const std::optional<std::string>& token,
                            const std::string& remoteConfigName, const std::string& endpoint);
    /// This device's supported models that match one of the globs, formatted.
    static std::vector<std::string>
    fetchAvailableModels(const std::string& repo, const std::vector<std::string>& matching,
                         const std::optional<std::filesystem::path>& downloadBase,
                         const std::optional<std::string>& token,
                         const std::string& remoteConfigName, const std::string& endpoint);
    static std::vector<std::string> formatModelFiles(const std::vector<std::string>& modelFiles);

    // Language detection.
    struct LanguageDetection {
        std::string language;
        std::unordered_map<std::string, float> langProbs;
    };
    virtual LanguageDetection detectLanguage(const std::string& audioPath);
    virtual LanguageDetection detectLangauge(const std::vector<float>& audioArray);

    // Transcription.
    /// The whole file at `audioPath`, as one list of results.
    virtual std::vector<TranscriptionResult>
    transcribeAudioPath(const std::string& audioPath,
                        const std::optional<DecodingOptions>& decodeOptions = std::nullopt,
                        const DecodingCallback& callback = {});
    /// The first result of transcribeAudioPath, if any.
    virtual std::optional<TranscriptionResult>
    transcribeAudioPathSingle(const std::string& audioPath,
                              const std::optional<DecodingOptions>& decodeOptions = std::nullopt,
                              const DecodingCallback& callback = {});
    /// The main entry: one list of results for the samples.
    virtual std::vector<TranscriptionResult>
    transcribeAudioArray(const std::vector<float>& audioArray,
                         const std::optional<DecodingOptions>& decodeOptions = std::nullopt,
                         const DecodingCallback& callback = {},
                         const SegmentDiscoveryCallback& segmentCallback = {});
    virtual std::optional<TranscriptionResult>
    transcribeAudioArraySingle(const std::vector<float>& audioArray,
                               const std::optional<DecodingOptions>& decodeOptions = std::nullopt,
                               const DecodingCallback& callback = {});
    // Batches: many inputs in one call, up to the worker count at a time.
    /// One outcome per input, in input order: the input's results or its failure.
    using TranscriptionOutcome = platform::system::Outcome<std::vector<TranscriptionResult>>;

    /// One list of results per file, absent where the file failed.
    virtual std::vector<std::optional<std::vector<TranscriptionResult>>>
    transcribeAudioPaths(const std::vector<std::string>& audioPaths,
                         const std::optional<DecodingOptions>& decodeOptions = std::nullopt,
                         const DecodingCallback& callback = {});
    /// The files are loaded side by side, then transcribed as a batch; a file
    /// that cannot be loaded gets its load failure. Reports convertingAudio,
    /// transcribing and finished.
    virtual std::vector<TranscriptionOutcome>
    transcribeWithResults(const std::vector<std::string>& audioPaths,
                          const std::optional<DecodingOptions>& decodeOptions = std::nullopt,
                          const DecodingCallback& callback = {});
    /// One list of results per array, absent where the array failed.
    virtual std::vector<std::optional<std::vector<TranscriptionResult>>>
    transcribeAudioArrays(const std::vector<std::vector<float>>& audioArrays,
                          const std::optional<DecodingOptions>& decodeOptions = std::nullopt,
                          const DecodingCallback& callback = {});
    /// The same options for every array.
    virtual std::vector<TranscriptionOutcome>
    transcribeWithResults(const std::vector<std::vector<float>>& audioArrays,
                          const std::optional<DecodingOptions>& decodeOptions = std::nullopt,
                          const DecodingCallback& callback = {});
    /// Runs the main entry once per array with that array's options, in
    /// batches of the largest concurrentWorkerCount among the options (all
    /// arrays in one batch when it is 0, but never more at once than the
    /// machine has processors); one outcome per array, in input order. A
    /// negative count gives every array a failure. Progress reports carry the
    /// array's index as windowId; with seek offsets, the engine's segment
    /// callback sees each window's segments with `seek` raised by the array's
    /// offset. Lists of another length than the arrays give one failure.
    virtual std::vector<TranscriptionOutcome>
    transcribeWithOptions(const std::vector<std::vector<float>>& audioArrays,
                          const std::vector<std::optional<DecodingOptions>>& decodeOptionsArray,
                          const std::optional<std::vector<int64_t>>& seekOffsets = std::nullopt,
                          const DecodingCallback& callback = {});

    virtual std::shared_ptr<TranscribeTask>
    setupTranscribeTask(const TranscriptionTimings& currentTimings,
                        std::shared_ptr<platform::system::Progress> progress,
                        std::shared_ptr<AudioProcessing> audioProcessor,
                        std::shared_ptr<AudioEncoding> audioEncoder,
                        std::shared_ptr<FeatureExtracting> featureExtractor,
                        std::shared_ptr<SegmentSeeking> segmentSeeker,
                        std::shared_ptr<TextDecoding> textDecoder,
                        std::shared_ptr<WhisperTokenizer> tokenizer);
    virtual std::vector<TranscriptionResult> runTranscribeTask(
        const std::vector<float>& audioArray, const std::optional<DecodingOptions>& decodeOptions,
        const DecodingCallback& callback, const SegmentDiscoveryCallback& segmentCallback);

    // Fields.
    ModelVariant modelVariant() const;
    void setModelVariant(ModelVariant variant);
    tessary::ModelState modelState() const;
    /// Stores the state and calls the model-state callback, also for an
    /// unchanged state.
    void setModelState(tessary::ModelState state);
    const ModelComputeOptions& modelCompute() const { return modelCompute_; }
    const AudioInputConfig& audioInputConfig() const { return audioInputConfig_; }
    std::shared_ptr<WhisperTokenizer> tokenizer() const;
    /// Also hands the tokenizer to the text decoder.
    void setTokenizer(std::shared_ptr<WhisperTokenizer> tokenizer);
    const std::shared_ptr<AudioProcessing>& audioProcessor() const { return audioProcessor_; }
    const std::shared_ptr<FeatureExtracting>& featureExtractor() const { return featureExtractor_; }
    const std::shared_ptr<AudioEncoding>& audioEncoder() const { return audioEncoder_; }
    const std::shared_ptr<TextDecoding>& textDecoder() const { return textDecoder_; }
    const std::shared_ptr<SegmentSeeking>& segmentSeeker() const { return segmentSeeker_; }
    TranscriptionTimings currentTimings() const;
    std::shared_ptr<platform::system::Progress> progress() const;
    const std::optional<std::filesystem::path>& modelFolder() const { return modelFolder_; }
    const std::optional<std::filesystem::path>& tokenizerFolder() const { return tokenizerFolder_; }
    bool useBackgroundDownloadSession() const { return useBackgroundDownloadSession_; }

    SegmentDiscoveryCallback segmentDiscoveryCallback;
    ModelStateCallback modelStateCallback;
    TranscriptionStateCallback transcriptionStateCallback;

protected:
    Murmex() = default;

private:
    // The parent progress of the runs in flight, and how many runs hang a
    // child progress off it and have not ended.
    struct RunProgress {
        std::shared_ptr<platform::system::Progress> progress = platform::system::Progress::create();
        int runs = 0;
        // Units a chunked transcription counted in ahead of its chunks' runs;
        // a run takes one of them instead of adding a unit.
        int64_t reserved = 0;
    };

    static hub::HubApi hubClient(const std::optional<std::filesystem::path>& downloadBase,
                                 const std::optional<std::string>& token,
                                 const std::string& endpoint, bool useBackgroundSession);
    void ensureLoaded();
    /// The voice-activity path of the main entry: the samples cut at
    /// silences, the chunks transcribed as a batch, their results moved onto
    /// the whole recording's time line.
    std::vector<TranscriptionResult> transcribeInChunks(const std::vector<float>& audioArray,
                                                        const DecodingOptions& decodeOptions,
                                                        const DecodingCallback& callback,
                                                        int64_t windowLength);
    /// Loads one stage's model (null: the stage runs none) and, when given,
    /// records its load or specialisation time.
    void loadStage(WhisperMLModel* stage, std::string_view name, const std::filesystem::path& url,
                   platform::ml::ComputeUnits computeUnits, bool prewarmMode,
                   double TranscriptionTimings::*loadTime = nullptr,
                   double TranscriptionTimings::*specializationTime = nullptr);

    // Serialises model loading so concurrent transcriptions load once.
    std::mutex loadMutex_;

    // Fields that concurrent transcriptions read and write sit behind their
    // own locks, never held while calling out of the engine.
    tessary::PropertyLock<ModelVariant> modelVariant_{ModelVariant::tiny};
    tessary::PropertyLock<tessary::ModelState> modelState_{tessary::ModelState::unloaded};
    tessary::PropertyLock<std::shared_ptr<WhisperTokenizer>> tokenizer_;
    tessary::PropertyLock<TranscriptionTimings> currentTimings_;
    tessary::PropertyLock<RunProgress> runProgress_;

    ModelComputeOptions modelCompute_;
    AudioInputConfig audioInputConfig_;
    std::shared_ptr<AudioProcessing> audioProcessor_;
    std::shared_ptr<FeatureExtracting> featureExtractor_;
    std::shared_ptr<AudioEncoding> audioEncoder_;
    std::shared_ptr<TextDecoding> textDecoder_;
    std::shared_ptr<SegmentSeeking> segmentSeeker_;
    std::shared_ptr<VoiceActivityDetector> voiceActivityDetector_;
    std::optional<std::filesystem::path> modelFolder_;
    std::optional<std::filesystem::path> tokenizerFolder_;
    bool useBackgroundDownloadSession_ = false;
};

} // namespace murmex
