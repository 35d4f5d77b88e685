#include "halvex_zovuruv/Transcriber.h"

#include "halvex_zovuruv/core/ApplicationSupport.h"
#include "halvex_zovuruv/core/Log.h"
#include "murmex/core/Murmex.h"
#include "murmex/core/MurmexConfig.h"
#include "murmex/records/DecodingOptions.h"
#include "platform/net/HttpClient.h"
#include "platform/system/ChildProcess.h"
#include "platform/system/SystemError.h"
#include "platform/text/UnicodeProperties.h"
#include "platform/text/Utf8.h"

#include <chrono>
#include <cstdlib>
#include <random>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;
using platform::system::SystemError;

namespace halvex {

namespace {

constexpr const char* kErrorDomain = "CorvaneZovuruv";
constexpr const char* kModelRelativePath =
    "corvanemodel/openai_whisper-large-v3-v20240930_turbo_632MB";
constexpr const char* kDefaultModelURL = "https://models.halvex-zovuruv.app/model.tar.gz";

SystemError notUnpacked() {
    return SystemError(kErrorDomain, -1, "Модель распознавания не распаковалась");
}

/// Removes a path on scope exit, ignoring failures.
struct RemoveOnExit {
    fs::path path;
    ~RemoveOnExit() {
        std::error_code ignored;
        if (!path.empty()) fs::remove_all(path, ignored);
    }
};

/// Moves `from` to `to`, replacing whatever is at `to`. When another
/// process puts its own copy there at the same moment, that copy stays.
void replace(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    fs::remove_all(to, ec);
    fs::create_directories(to.parent_path(), ec);
    fs::rename(from, to, ec);
    if (ec && !fs::exists(to)) throw notUnpacked();
}

/// Moves the unpacked entries of `staging` into `base`: everything except the
/// model folder first, the model folder last, since its presence is what makes
/// the model count as installed.
void installFromStaging(const fs::path& staging, const fs::path& base) {
    const fs::path modelRelative = kModelRelativePath;
    const fs::path stagedModel = staging / modelRelative;
    if (!fs::is_directory(stagedModel)) throw notUnpacked();
    // Another process (the command line beside the tray application) may
    // have finished the same download meanwhile: its model stays.
    std::error_code ec;
    if (fs::exists(base / modelRelative, ec)) return;
    const fs::path modelParent = modelRelative.parent_path(); // "corvanemodel"

    for (const auto& entry : fs::directory_iterator(staging)) {
        if (entry.path().filename() == modelParent) continue;
        replace(entry.path(), base / entry.path().filename());
    }
    for (const auto& entry : fs::directory_iterator(staging / modelParent)) {
        if (entry.path().filename() == modelRelative.filename()) continue;
        replace(entry.path(), base / modelParent / entry.path().filename());
    }
    fs::create_directories(base / modelParent, ec);
    fs::rename(stagedModel, base / modelRelative, ec);
    if (ec && !fs::is_directory(base / modelRelative))
        throw SystemError(kErrorDomain, ec.value(), "Модель распознавания не распаковалась");
}

/// A name part no other process or call uses at the same time: the process
/// id and a random number from a generator seeded anew for each call.
std::string uniqueSuffix() {
    std::random_device device;
    std::seed_seq seed{device(), device(), uint32_t(::getpid()),
                       uint32_t(std::chrono::steady_clock::now().time_since_epoch().count())};
    std::mt19937_64 generator(seed);
    return std::to_string(::getpid()) + "-" + std::to_string(generator());
}

} // namespace

std::string Transcriber::modelURL() {
    if (const char* url = std::getenv("HALVEX_ZOVURUV_MODEL_URL"); url && *url) return url;
    return kDefaultModelURL;
}

fs::path Transcriber::baseDir() {
    return applicationSupportFolder("Corvane Zovuruv");
}

fs::path Transcriber::modelFolder() {
    return baseDir() / kModelRelativePath;
}

fs::path Transcriber::tokenizerFolder() {
    return baseDir() / "corvanetok";
}

void Transcriber::ensureModelDownloaded() {
    const fs::path base = baseDir();
    std::error_code ec;
    if (fs::exists(base / kModelRelativePath, ec)) return;

    Log::write("model: downloading from server…");
    const std::string suffix = uniqueSuffix();
    const fs::path archive = base / (".model-" + suffix + ".tar.gz");
    RemoveOnExit archiveGuard{archive}; // the archive never stays behind

    auto response = platform::net::HttpClient::download(modelURL(), archive);
    if (response.statusCode != 200) {
        throw SystemError(kErrorDomain, response.statusCode,
                          "Сервер модели вернул HTTP " + std::to_string(response.statusCode));
    }

    const fs::path staging = base / (".staging-" + suffix);
    fs::create_directories(staging);
    RemoveOnExit stagingGuard{staging};

    auto exit = platform::system::runProcess("/usr/bin/tar",
                                             {"--no-same-owner", "--no-same-permissions", "-xzf",
                                              archive.string(), "-C", staging.string()});
    if (!exit.success()) throw notUnpacked();
    installFromStaging(staging, base);
    Log::write("model: downloaded and extracted");
}

murmex::MurmexConfig Transcriber::engineConfig() {
    murmex::MurmexConfig config;
    config.modelFolder = modelFolder().string();
    config.tokenizerFolder = tokenizerFolder().string();
    config.verbose = true;
    config.logLevel = tessary::Logging::LogLevel::info;
    config.load = true;
    config.download = false;
    config.useBackgroundDownloadSession = false;
    return config;
}

Transcriber::Transcriber()
    : Transcriber([] {
          ensureModelDownloaded();
          return murmex::Murmex::create(engineConfig());
      }) {}

Transcriber::Transcriber(EngineLoader loader) : loader_(std::move(loader)) {}

std::shared_ptr<murmex::Murmex> Transcriber::loadedMurmex() {
    LoadTask task;
    {
        std::lock_guard lock(mutex_);
        if (!loadTask_) {
            loadTask_ =
                LoadTask{nextGeneration_++, std::async(std::launch::async, loader_).share()};
        }
        task = *loadTask_;
    }
    try {
        return task.result.get();
    } catch (...) {
        // Forget this load so the next call retries, but never a newer load
        // that another caller has started since.
        std::lock_guard lock(mutex_);
        if (loadTask_ && loadTask_->generation == task.generation) loadTask_.reset();
        throw;
    }
}

namespace {

murmex::DecodingOptions russianOptions() {
    murmex::DecodingOptions options;
    options.language = "ru";
    return options;
}

std::string joinTexts(const std::vector<murmex::TranscriptionResult>& results) {
    std::string joined;
    for (size_t i = 0; i < results.size(); ++i) {
        if (i) joined += ' ';
        joined += results[i].text();
    }
    return joined;
}

} // namespace

std::string Transcriber::transcribe(const std::vector<float>& samples) {
    auto engine = loadedMurmex();
    return cleanup(joinTexts(engine->transcribeAudioArray(samples, russianOptions())));
}

std::string Transcriber::transcribeFile(const std::string& path) {
    auto engine = loadedMurmex();
    return cleanup(joinTexts(engine->transcribeAudioPath(path, russianOptions())));
}

std::string Transcriber::cleanup(const std::string& text) {
    // Remove "<|" + any run of characters other than '|' + "|>".
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        if (text.compare(i, 2, "<|") == 0) {
            size_t bar = text.find('|', i + 2);
            if (bar != std::string::npos && bar + 1 < text.size() && text[bar + 1] == '>') {
                i = bar + 2;
                continue;
            }
        }
        out += text[i++];
    }
    return std::string(platform::text::trimCodePoints(out, platform::text::isWhiteSpace));
}

} // namespace halvex
