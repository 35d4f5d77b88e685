#include "murmex/core/Murmex.h"

#include "hub/HubApi.h"
#include "hub/HubClientError.h"
#include "murmex/base/Constants.h"
#include "murmex/base/WhisperError.h"
#include "murmex/core/AudioEncoder.h"
#include "murmex/core/FeatureExtractor.h"
#include "murmex/core/ModelUtilities.h"
#include "murmex/core/TextDecoder.h"
#include "murmex/core/WhisperMLModel.h"
#include "murmex/core/audio/AudioProcessor.h"
#include "murmex/core/text/GreedyTokenSampler.h"
#include "murmex/core/text/SegmentSeeker.h"
#include "platform/system/Cancellation.h"
#include "platform/system/Glob.h"
#include "platform/text/NumberText.h"
#include "tessary_core/Logging.h"
#include "tessary_core/ModelUtilities.h"
#include "tessary_core/ProcessInfo.h"

#include <chrono>
#include <fmt/format.h>
#include <fstream>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace murmex {

namespace {

using tessary::Logging;
using tessary::ModelState;

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

constexpr const char* kDefaultModelRepo = "vaziravudo/murmex-coreml";

} // namespace

std::shared_ptr<Murmex> Murmex::create(const MurmexConfig& config) {
    std::shared_ptr<Murmex> engine(new Murmex());
    engine->initialize(config);
    return engine;
}

Murmex::~Murmex() {
    if (audioProcessor_) audioProcessor_->stopRecording();
}

// ---------------------------------------------------------------------------
// Fields

ModelVariant Murmex::modelVariant() const {
    return modelVariant_.get();
}

void Murmex::setModelVariant(ModelVariant variant) {
    modelVariant_.set(variant);
}

ModelState Murmex::modelState() const {
    return modelState_.get();
}

void Murmex::setModelState(ModelState state) {
    const ModelState previous =
        modelState_.modify([&](ModelState& current) { return std::exchange(current, state); });
    if (modelStateCallback) modelStateCallback(previous, state);
}

std::shared_ptr<WhisperTokenizer> Murmex::tokenizer() const {
    return tokenizer_.get();
}

void Murmex::setTokenizer(std::shared_ptr<WhisperTokenizer> tokenizer) {
    tokenizer_.set(tokenizer);
    textDecoder_->setTokenizer(std::move(tokenizer));
}

TranscriptionTimings Murmex::currentTimings() const {
    return currentTimings_.get();
}

std::shared_ptr<platform::system::Progress> Murmex::progress() const {
    return runProgress_.read([](const RunProgress& run) { return run.progress; });
}

// ---------------------------------------------------------------------------
// Life cycle

void Murmex::initialize(const MurmexConfig& config) {
    modelCompute_ = config.computeOptions.value_or(ModelComputeOptions());
    audioInputConfig_ = config.audioInputConfig.value_or(AudioInputConfig());
    audioProcessor_ =
        config.audioProcessor ? config.audioProcessor : std::make_shared<AudioProcessor>();
    featureExtractor_ =
        config.featureExtractor ? config.featureExtractor : std::make_shared<FeatureExtractor>();
    audioEncoder_ = config.audioEncoder ? config.audioEncoder : std::make_shared<AudioEncoder>();
    textDecoder_ = config.textDecoder ? config.textDecoder : std::make_shared<TextDecoder>();
    if (config.logitsFilters) textDecoder_->setLogitsFilters(*config.logitsFilters);
    segmentSeeker_ =
        config.segmentSeeker ? config.segmentSeeker : std::make_shared<SegmentSeeker>();
    voiceActivityDetector_ = config.voiceActivityDetector;
    if (config.tokenizerFolder) {
        tokenizerFolder_ = fs::path(*config.tokenizerFolder);
    } else if (config.downloadBase) {
        tokenizerFolder_ = fs::path(*config.downloadBase);
    }
    useBackgroundDownloadSession_ = config.useBackgroundDownloadSession;
    currentTimings_.set(TranscriptionTimings());
    Logging::shared().setLogLevel(config.verbose ? config.logLevel : Logging::LogLevel::none);

    setupModels(config.model, config.downloadBase, config.modelRepo, config.modelToken,
                config.modelFolder, config.download, "config.json",
                config.modelEndpoint.value_or(""));

    if (config.prewarm.value_or(false)) {
        Logging::info("Prewarming models...");
        prewarmModels();
    }
    // A folder given or just downloaded is loaded unless the caller says otherwise.
    const bool shouldLoad = config.load.value_or(modelFolder_.has_value());
    if (shouldLoad) {
        Logging::info("Loading models...");
        loadModels(false);
    }
}

void Murmex::setupModels(const std::optional<std::string>& model,
                         const std::optional<std::string>& downloadBase,
                         const std::optional<std::string>& modelRepo,
                         const std::optional<std::string>& modelToken,
                         const std::optional<std::string>& modelFolder, bool download,
                         const std::string& remoteConfigName, const std::string& endpoint) {
    if (modelFolder) {
        modelFolder_ = fs::path(*modelFolder);
        return;
    }
    if (!download) return;
    const std::string repo = modelRepo.value_or(kDefaultModelRepo);
    std::optional<fs::path> base;
    if (downloadBase) base = fs::path(*downloadBase);
    const std::string variant =
        model ? *model
              : fetchModelSupportConfig(repo, base, modelToken, remoteConfigName, endpoint)
                    .modelSupport(deviceName())
                    .defaultModel;
    try {
        modelFolder_ = Murmex::download(variant, base, useBackgroundDownloadSession_, repo,
                                        modelToken, endpoint);
    } catch (const std::exception& e) {
        throw WhisperError::modelsUnavailable(
            std::string(
                "Model not found. Please check the model or repo name and try again.\nError: ") +
            e.what());
    }
}

fs::path
Murmex::download(const std::string& variant, const std::optional<fs::path>& downloadBase,
                 bool useBackgroundSession, const std::string& repo,
                 const std::optional<std::string>& token, const std::string& endpoint,
                 const std::function<void(const platform::system::Progress&)>& progressCallback) {
    const hub::HubApi client = hubClient(downloadBase, token, endpoint, useBackgroundSession);
    const hub::Repo repository{repo, hub::RepoType::models};
    const std::string repoText = "Repo(id: \"" + repo + "\", type: models)";

    // The variant's folder: the one first path component of the matches.
    auto folders = [&](const std::string& pattern) {
        TESSARY_LOG(debug, "Searching for models matching \"" + pattern + "\" in " + repoText);
        std::set<std::string> found;
        try {
            for (const std::string& name : client.getFilenames(repository, "main", {pattern}))
                found.insert(name.substr(0, name.find('/')));
        } catch (const std::exception& e) {
            TESSARY_LOG(debug, e.what());
            throw;
        }
        return found;
    };
    auto count = [](const std::set<std::string>& found) {
        return std::string(found.empty() ? "No" : "Multiple");
    };
    std::string pattern = "*" + variant + "/*";
    std::set<std::string> found = folders(pattern);
    if (found.size() != 1) {
        TESSARY_LOG(debug, count(found) + " models found matching \"" + pattern + "\"");
        pattern = "*openai*" + variant + "/*";
        found = folders(pattern);
        if (found.size() != 1) {
            const WhisperError error = WhisperError::modelsUnavailable(
                count(found) + " models found matching \"" + pattern + "\" in " + repoText);
            TESSARY_LOG(debug, error.what());
            throw error;
        }
    }
    const std::string folder = *found.begin();
    TESSARY_LOG(debug, "Downloading model " + folder + "...");
    try {
        const fs::path snapshot = client.snapshot(
            repository, "main", {pattern}, [&](const platform::system::Progress& p) {
                TESSARY_LOG(debug, "Download progress: " +
                                       platform::text::shortestText(p.fractionCompleted()));
                if (progressCallback) progressCallback(p);
            });
        return snapshot / folder;
    } catch (const std::exception& e) {
        TESSARY_LOG(debug, e.what());
        throw;
    }
}

void Murmex::prewarmModels() {
    loadModels(true);
}

void Murmex::loadModels(bool prewarmMode) {
    setModelState(prewarmMode ? ModelState::prewarming : ModelState::loading);
    const double start = now();
    if (!modelFolder_) throw WhisperError::modelsUnavailable("Model folder is not set.");
    const fs::path& folder = *modelFolder_;
    TESSARY_LOG(debug, "Loading models from " + folder.string() +
                           " with prewarmMode: " + (prewarmMode ? "true" : "false"));

    const fs::path melURL = tessary::ModelUtilities::detectModelURL(folder, "MelSpectrogram");
    const fs::path encoderURL = tessary::ModelUtilities::detectModelURL(folder, "AudioEncoder");
    const fs::path decoderURL = tessary::ModelUtilities::detectModelURL(folder, "TextDecoder");
    const fs::path prefillURL =
        tessary::ModelUtilities::detectModelURL(folder, "TextDecoderContextPrefill");
    for (const auto& url : {melURL, encoderURL, decoderURL}) {
        std::error_code ec;
        if (!fs::exists(url, ec))
            throw WhisperError::modelsUnavailable("Model file not found at " + url.string());
    }

    loadStage(loadableModel(featureExtractor_.get()), "feature extractor", melURL,
              modelCompute_.melCompute, prewarmMode);
    std::error_code ec;
    if (fs::exists(prefillURL, ec)) {
        Logging::debug("Loading text decoder prefill data");
        textDecoder_->setPrefillData(std::make_shared<TextDecoderContextPrefill>());
        if (auto prefill = textDecoder_->prefillData()) {
            prefill->loadModel(prefillURL, modelCompute_.prefillCompute, prewarmMode);
        }
        Logging::debug("Loaded text decoder prefill data");
    }
    loadStage(loadableModel(textDecoder_.get()), "text decoder", decoderURL,
              modelCompute_.textDecoderCompute, prewarmMode, &TranscriptionTimings::decoderLoadTime,
              &TranscriptionTimings::decoderSpecializationTime);
    loadStage(loadableModel(audioEncoder_.get()), "audio encoder", encoderURL,
              modelCompute_.audioEncoderCompute, prewarmMode,
              &TranscriptionTimings::encoderLoadTime,
              &TranscriptionTimings::encoderSpecializationTime);

    if (prewarmMode) {
        setModelState(ModelState::prewarmed);
        currentTimings_.modify(
            [&](TranscriptionTimings& timings) { timings.prewarmLoadTime = now() - start; });
        return;
    }
    loadTokenizerIfNeeded();
    setModelState(ModelState::loaded);
    double loading = 0;
    currentTimings_.modify([&](TranscriptionTimings& timings) {
        timings.modelLoading = (now() - start) + timings.prewarmLoadTime;
        loading = timings.modelLoading;
    });
    TESSARY_LOG(info, fmt::format("Loaded models for whisper size: {} in {:.2f}s",
                                  description(modelVariant()), loading));
}

void Murmex::loadStage(WhisperMLModel* stage, std::string_view name, const fs::path& url,
                       platform::ml::ComputeUnits computeUnits, bool prewarmMode,
                       double TranscriptionTimings::*loadTime,
                       double TranscriptionTimings::*specializationTime) {
    if (!stage) return;
    Logging::debug("Loading", name);
    const double start = now();
    stage->loadModel(url, computeUnits, prewarmMode);
    const double elapsed = now() - start;
    double TranscriptionTimings::*field = prewarmMode ? specializationTime : loadTime;
    if (!field) {
        Logging::debug("Loaded", name);
        return;
    }
    currentTimings_.modify([&](TranscriptionTimings& timings) { timings.*field = elapsed; });
    TESSARY_LOG(debug, fmt::format("Loaded {} in {:.2f}s", name, elapsed));
}

void Murmex::loadTokenizerIfNeeded() {
    if (tokenizer()) {
        Logging::debug("Tokenizer already exists on Murmex, skipping load");
        return;
    }
    const auto logitsDim = textDecoder_->logitsSize();
    const auto encoderDim = audioEncoder_->embedSize();
    if (!logitsDim || !encoderDim)
        throw WhisperError::tokenizerUnavailable("Tokenizer is unavailable");
    textDecoder_->setIsModelMultilingual(*logitsDim != 51864);
    const ModelVariant variant = ModelUtilities::detectVariant(*logitsDim, *encoderDim);
    setModelVariant(variant);
    TESSARY_LOG(debug, "Loading tokenizer for " + description(variant));
    const double start = now();

    std::vector<fs::path> additionalSearchPaths;
    if (modelFolder_) {
        additionalSearchPaths.push_back(*modelFolder_);
        additionalSearchPaths.push_back(ModelUtilities::localRepoLocation(
            *modelFolder_, ModelUtilities::tokenizerNameForVariant(variant)));
    }
    auto loaded = ModelUtilities::loadTokenizer(variant, tokenizerFolder_, additionalSearchPaths,
                                                useBackgroundDownloadSession_);
    const double elapsed = now() - start;
    currentTimings_.modify(
        [&](TranscriptionTimings& timings) { timings.tokenizerLoadTime = elapsed; });
    setTokenizer(std::move(loaded));
    TESSARY_LOG(debug, fmt::format("Loaded tokenizer in {:.2f}s", elapsed));
}

void Murmex::unloadModels() {
    setModelState(ModelState::unloading);
    for (WhisperMLModel* stage :
         {loadableModel(featureExtractor_.get()), loadableModel(audioEncoder_.get()),
          loadableModel(textDecoder_.get())}) {
        if (stage) stage->unloadModel();
    }
    setModelState(ModelState::unloaded);
    Logging::info("Unloaded all models");
}

void Murmex::clearState() {
    audioProcessor_->stopRecording();
    currentTimings_.modify([](TranscriptionTimings& timings) { timings = TranscriptionTimings(); });
}

void Murmex::loggingCallback(std::function<void(const std::string&)> callback) {
    Logging::shared().setLoggingCallback(std::move(callback));
}

void Murmex::ensureLoaded() {
    if (modelState() == ModelState::loaded) return;
    // One load at a time: a transcription that arrives while another loads
    // waits for it and then finds the models loaded.
    std::lock_guard lock(loadMutex_);
    if (modelState() != ModelState::loaded) loadModels(false);
}

// ---------------------------------------------------------------------------
// Model catalogue

std::string Murmex::deviceName() {
    return tessary::ProcessInfo::hwModel();
}

ModelSupport Murmex::recommendedModels() {
    TESSARY_LOG(debug, "Running on " + deviceName());
    return ModelUtilities::modelSupport(deviceName());
}

ModelSupportConfig Murmex::fetchModelSupportConfig(const std::string& repo,
                                                   const std::optional<fs::path>& downloadBase,
                                                   const std::optional<std::string>& token,
                                                   const std::string& remoteConfigName,
                                                   const std::string& endpoint) {
    TESSARY_LOG(debug,
                "Searching for config file matching \"" + remoteConfigName + "\" in " + repo);
    try {
        const hub::HubApi client = hubClient(downloadBase, token, endpoint, false);
        const auto names = client.getFilenames(repo, remoteConfigName);
        if (names.empty()) {
            TESSARY_LOG(info, "No config files found matching \"" + remoteConfigName + "\" in " +
                                  repo + ", using fallback");
            return Constants::fallbackModelSupportConfig();
        }
        if (names.size() > 1) {
            std::string list;
            for (const auto& name : names)
                list += (list.empty() ? "[\"" : ", \"") + name + "\"";
            TESSARY_LOG(info, "Multiple config files found (" + std::to_string(names.size()) +
                                  "): " + list + "]. Using first matching file: " + names.front());
        }
        const fs::path folder = client.snapshot(repo, "main", {names.front()});
        std::ifstream in(folder / names.front(), std::ios::binary);
        if (!in) throw std::runtime_error("cannot read " + (folder / names.front()).string());
        std::ostringstream text;
        text << in.rdbuf();
        return ModelSupportConfig::fromJson(text.str());
    } catch (const std::exception& e) {
        Logging::error(std::string("Fetch model support config failed with error: ") + e.what());
        return Constants::fallbackModelSupportConfig();
    }
}

ModelSupport Murmex::recommendedRemoteModels(const std::string& repo,
                                             const std::optional<fs::path>& downloadBase,
                                             const std::optional<std::string>& token,
                                             const std::string& remoteConfigName,
                                             const std::string& endpoint) {
    return fetchModelSupportConfig(repo, downloadBase, token, remoteConfigName, endpoint)
        .modelSupport(deviceName());
}

std::vector<std::string> Murmex::fetchAvailableModels(const std::string& repo,
                                                      const std::vector<std::string>& matching,
                                                      const std::optional<fs::path>& downloadBase,
                                                      const std::optional<std::string>& token,
                                                      const std::string& remoteConfigName,
                                                      const std::string& endpoint) {
    const ModelSupport support =
        recommendedRemoteModels(repo, downloadBase, token, remoteConfigName, endpoint);
    std::vector<std::string> selected;
    std::set<std::string> seen;
    for (const std::string& glob : matching)
        for (const std::string& name : support.supported)
            if (platform::system::globMatches(glob, name) && seen.insert(name).second)
                selected.push_back(name);
    return formatModelFiles(selected);
}

hub::HubApi Murmex::hubClient(const std::optional<fs::path>& downloadBase,
                              const std::optional<std::string>& token, const std::string& endpoint,
                              bool useBackgroundSession) {
    // An empty endpoint asks for the hub client's default (QN_ENDPOINT or its own).
    return hub::HubApi(downloadBase, token,
                       endpoint.empty() ? std::nullopt : std::optional<std::string>(endpoint),
                       useBackgroundSession, std::nullopt);
}

std::vector<std::string> Murmex::formatModelFiles(const std::vector<std::string>& modelFiles) {
    return ModelUtilities::formatModelFiles(modelFiles);
}

// ---------------------------------------------------------------------------
// Language detection

Murmex::LanguageDetection Murmex::detectLanguage(const std::string& audioPath) {
    std::error_code ec;
    if (!fs::exists(audioPath, ec))
        throw WhisperError::loadAudioFailed("Resource path does not exist " + audioPath);
    auto samples = AudioProcessor::loadAudioAsFloatArray(
        audioPath, AudioInputConfig::ChannelMode::sumChannels(), 0.0, 30.0);
    return detectLangauge(samples);
}

Murmex::LanguageDetection Murmex::detectLangauge(const std::vector<float>& audioArray) {
    ensureLoaded();
    if (!textDecoder_->isModelMultilingual()) {
        throw WhisperError::decodingFailed("Language detection not supported for this model");
    }
    auto tok = tokenizer();
    if (!tok) throw WhisperError::tokenizerUnavailable("Tokenizer is unavailable");
    DecodingOptions options;
    options.verbose = Logging::shared().logLevel() != Logging::LogLevel::none;
    auto inputs = textDecoder_->prepareDecoderInputs({tok->specialTokens().startOfTranscriptToken});
    const int64_t windowSamples =
        featureExtractor_->windowSamples().value_or(Constants::defaultWindowSamples);
    auto window = audioProcessor_->padOrTrim(audioArray, 0, windowSamples);
    if (!window) throw WhisperError::transcriptionFailed("Audio samples are nil");
    auto mel = featureExtractor_->logMelSpectrogram(*window);
    if (!mel) throw WhisperError::transcriptionFailed("Mel output is nil");
    auto encoded = audioEncoder_->encodeFeatures(*mel);
    const auto* encoderOutput =
        encoded ? std::any_cast<platform::ml::MultiArray>(&*encoded) : nullptr;
    if (!encoderOutput) throw WhisperError::transcriptionFailed("Encoder output is nil");
    GreedyTokenSampler sampler(platform::system::Float16(0.0f), tok->specialTokens().endToken,
                               options);
    DecodingResult result;
    try {
        result = textDecoder_->detectLanguage(*encoderOutput, *inputs, sampler, options,
                                              platform::system::Float16(0.0f));
    } catch (const platform::system::CancellationError&) {
        throw;
    } catch (...) {
        throw WhisperError::decodingFailed("Language detection failed");
    }
    return {result.language, result.languageProbs};
}

// ---------------------------------------------------------------------------
// Transcription

std::vector<TranscriptionResult>
Murmex::transcribeAudioPath(const std::string& audioPath,
                            const std::optional<DecodingOptions>& decodeOptions,
                            const DecodingCallback& callback) {
    if (transcriptionStateCallback) transcriptionStateCallback(TranscriptionState::convertingAudio);
    const double start = now();
    std::vector<float> samples;
    std::exception_ptr loadError;
    try {
        samples = AudioProcessor::loadAudioAsFloatArray(audioPath, audioInputConfig_.channelMode,
                                                        0.0, std::nullopt);
    } catch (...) {
        loadError = std::current_exception();
    }
    const double elapsed = now() - start;
    currentTimings_.modify([&](TranscriptionTimings& timings) { timings.audioLoading = elapsed; });
    TESSARY_LOG(debug, "Audio loading and convert time: " + platform::text::shortestText(elapsed));
    Logging::logCurrentMemoryUsage("Audio Loading and Convert");
    if (loadError) std::rethrow_exception(loadError);

    if (transcriptionStateCallback) transcriptionStateCallback(TranscriptionState::transcribing);
    try {
        auto results = transcribeAudioArray(samples, decodeOptions, callback, {});
        if (transcriptionStateCallback) transcriptionStateCallback(TranscriptionState::finished);
        return results;
    } catch (...) {
        if (transcriptionStateCallback) transcriptionStateCallback(TranscriptionState::finished);
        throw;
    }
}

std::optional<TranscriptionResult>
Murmex::transcribeAudioPathSingle(const std::string& audioPath,
                                  const std::optional<DecodingOptions>& decodeOptions,
                                  const DecodingCallback& callback) {
    auto results = transcribeAudioPath(audioPath, decodeOptions, callback);
    if (results.empty()) return std::nullopt;
    return std::move(results.front());
}

std::vector<TranscriptionResult> Murmex::transcribeAudioArray(
    const std::vector<float>& audioArray, const std::optional<DecodingOptions>& decodeOptions,
    const DecodingCallback& callback, const SegmentDiscoveryCallback& segmentCallback) {
    const int64_t windowLength =
        featureExtractor_->windowSamples().value_or(Constants::defaultWindowSamples);
    std::vector<TranscriptionResult> results;
    if (decodeOptions && decodeOptions->chunkingStrategy == ChunkingStrategy::vad &&
        static_cast<int64_t>(audioArray.size()) > windowLength) {
        results = transcribeInChunks(audioArray, *decodeOptions, callback, windowLength);
    } else {
        const SegmentDiscoveryCallback& segments =
            segmentCallback ? segmentCallback : segmentDiscoveryCallback;
        results = runTranscribeTask(audioArray, decodeOptions, callback, segments);
    }
    if (decodeOptions && decodeOptions->verbose) {
        TESSARY_LOG(info, "Total Transcription Results: " + std::to_string(results.size()));
        for (size_t i = 0; i < results.size(); ++i) {
            TESSARY_LOG(debug, "[Result " + std::to_string(i) + "]");
            results[i].logSegments();
        }
    }
    return results;
}

std::optional<TranscriptionResult>
Murmex::transcribeAudioArraySingle(const std::vector<float>& audioArray,
                                   const std::optional<DecodingOptions>& decodeOptions,
                                   const DecodingCallback& callback) {
    auto results = transcribeAudioArray(audioArray, decodeOptions, callback, {});
    if (results.empty()) return std::nullopt;
    return std::move(results.front());
}

std::shared_ptr<TranscribeTask> Murmex::setupTranscribeTask(
    const TranscriptionTimings& currentTimings,
    std::shared_ptr<platform::system::Progress> progress,
    std::shared_ptr<AudioProcessing> audioProcessor, std::shared_ptr<AudioEncoding> audioEncoder,
    std::shared_ptr<FeatureExtracting> featureExtractor,
    std::shared_ptr<SegmentSeeking> segmentSeeker, std::shared_ptr<TextDecoding> textDecoder,
    std::shared_ptr<WhisperTokenizer> tokenizer) {
    return std::make_shared<TranscribeTask>(currentTimings, std::move(progress),
                                            std::move(audioProcessor), std::move(audioEncoder),
                                            std::move(featureExtractor), std::move(segmentSeeker),
                                            std::move(textDecoder), std::move(tokenizer));
}

std::vector<TranscriptionResult> Murmex::runTranscribeTask(
    const std::vector<float>& audioArray, const std::optional<DecodingOptions>& decodeOptions,
    const DecodingCallback& callback, const SegmentDiscoveryCallback& segmentCallback) {
    ensureLoaded();
    auto tok = tokenizer();
    if (!tok) throw WhisperError::tokenizerUnavailable("Tokenizer is unavailable");

    auto replaceProgress = [this] { runProgress_.set(RunProgress()); };
    if (platform::system::isCancelled()) {
        replaceProgress();
        throw platform::system::CancellationError();
    }

    // Each run stands for one unit of the parent. A run that joins others
    // still in flight adds its own unit, so the parent finishes only when the
    // last of them does; a finished parent takes no new runs.
    auto child = platform::system::Progress::create();
    const std::shared_ptr<platform::system::Progress> parent =
        runProgress_.modify([&](RunProgress& run) {
            if (run.progress->isFinished()) run = RunProgress();
            const int64_t total = run.progress->totalUnitCount();
            if (run.reserved > 0) {
                --run.reserved; // counted in by a chunked transcription
            } else {
                run.progress->setTotalUnitCount(run.runs == 0 ? std::max<int64_t>(total, 1)
                                                              : total + 1);
            }
            run.progress->addChild(child, 1);
            ++run.runs;
            return run.progress;
        });
    auto runEnded = [this, &parent] {
        runProgress_.modify([&](RunProgress& run) {
            if (run.progress != parent) return; // already replaced by another run
            --run.runs;
            if (parent->isFinished()) run = RunProgress();
        });
    };

    auto task = setupTranscribeTask(currentTimings(), child, audioProcessor_, audioEncoder_,
                                    featureExtractor_, segmentSeeker_, textDecoder_, tok);
    task->setSegmentDiscoveryCallback(segmentCallback);
    std::optional<TranscriptionResult> result;
    try {
        result.emplace(task->run(audioArray, decodeOptions, callback));
    } catch (const platform::system::CancellationError&) {
        runEnded();
        replaceProgress();
        throw;
    } catch (...) {
        runEnded();
        throw;
    }
    runEnded();
    if (decodeOptions && decodeOptions->verbose) result->logTimings();
    std::vector<TranscriptionResult> results;
    results.push_back(std::move(*result));
    return results;
}

} // namespace murmex
