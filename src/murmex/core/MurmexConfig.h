#pragma once
// Every setting the speech engine takes when it is created: where the models
// and the tokenizer come from (a local folder, or a model-hub repository with
// its token and endpoint), the compute units of the four model stages, how
// multi-channel audio becomes mono, component objects that replace the
// engine's defaults, logging, and the download, prewarm and load switches.
//
// The record stores what it is given: an absent optional asks the engine for
// its default. The engine reads it once, field by field, when it is created
// and keeps no reference to it; component objects are shared with the engine.
// Build it with designated initializers:
//     MurmexConfig config{.modelFolder = "/models/base", .download = false};

#include "murmex/core/ModelComputeOptions.h"
#include "murmex/core/audio/AudioInputConfig.h"
#include "tessary_core/Logging.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace murmex {

class AudioProcessing;
class FeatureExtracting;
class AudioEncoding;
class TextDecoding;
class LogitsFiltering;
class SegmentSeeking;
class VoiceActivityDetector;

struct MurmexConfig {
    /// Model variant to fetch when no `modelFolder` is given; absent: the
    /// device's default from the repository's model-support document.
    std::optional<std::string> model = std::nullopt;
    /// Local folder under which downloads are stored; also the tokenizer
    /// folder when `tokenizerFolder` is absent.
    std::optional<std::string> downloadBase = std::nullopt;
    /// Model-hub repository holding the compiled models; absent: "vaziravudo/murmex-coreml".
    std::optional<std::string> modelRepo = std::nullopt;
    std::optional<std::string> modelToken = std::nullopt;
    /// Model-hub endpoint; absent: the hub's default.
    std::optional<std::string> modelEndpoint = std::nullopt;
    /// A local folder of compiled models, used unchanged; nothing is searched
    /// or downloaded when it is given.
    std::optional<std::string> modelFolder = std::nullopt;
    /// Where the tokenizer files are looked for; absent: `downloadBase`.
    std::optional<std::string> tokenizerFolder = std::nullopt;
    std::optional<ModelComputeOptions> computeOptions = std::nullopt;
    std::optional<AudioInputConfig> audioInputConfig = std::nullopt;
    std::shared_ptr<AudioProcessing> audioProcessor = nullptr;
    std::shared_ptr<FeatureExtracting> featureExtractor = nullptr;
    std::shared_ptr<AudioEncoding> audioEncoder = nullptr;
    std::shared_ptr<TextDecoding> textDecoder = nullptr;
    /// Caller filters, run before the built-in ones; present but empty
    /// replaces the decoder's list, absent keeps it.
    std::optional<std::vector<std::shared_ptr<LogitsFiltering>>> logitsFilters = std::nullopt;
    std::shared_ptr<SegmentSeeking> segmentSeeker = nullptr;
    /// Used when long audio is chunked by voice activity; absent: the
    /// chunker's own default detector.
    std::shared_ptr<VoiceActivityDetector> voiceActivityDetector = nullptr;
    /// False switches the engine's logging off whatever `logLevel` says.
    bool verbose = true;
    tessary::Logging::LogLevel logLevel = tessary::Logging::LogLevel::info;
    /// True: prewarm the models during creation.
    std::optional<bool> prewarm = std::nullopt;
    /// True: load during creation; false: never; absent: load only when a
    /// model folder is known after set-up.
    std::optional<bool> load = std::nullopt;
    /// Whether the engine may download the models when no `modelFolder` is given.
    bool download = true;
    bool useBackgroundDownloadSession = false;
};

} // namespace murmex
