#pragma once
// The application's door to the speech engine: makes sure the Whisper model is
// on disk (downloading and unpacking the model archive on first use) and turns
// audio into cleaned text.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace murmex {
class Murmex;
struct MurmexConfig;
} // namespace murmex

namespace halvex {

class Transcriber {
public:
    /// Makes the engine; the default provisions the model and creates the
    /// engine from engineConfig().
    using EngineLoader = std::function<std::shared_ptr<murmex::Murmex>()>;

    Transcriber();
    /// A transcriber whose engine comes from `loader` (run once per load).
    explicit Transcriber(EngineLoader loader);

    /// The engine, created once on first use (downloading the model first
    /// when it is missing). Callers that arrive while it loads wait for the
    /// same load; a failed load is forgotten so that the next call retries.
    std::shared_ptr<murmex::Murmex> loadedMurmex();

    /// Cleaned Russian text of 16 kHz mono samples.
    std::string transcribe(const std::vector<float>& samples);
    /// Cleaned Russian text of an audio file.
    std::string transcribeFile(const std::string& path);

    /// The engine configuration: local model and tokenizer folders, loading
    /// at creation, no downloads.
    static murmex::MurmexConfig engineConfig();

    /// The model archive's address: $HALVEX_ZOVURUV_MODEL_URL when set, else
    /// the product's model server with the path "/model.tar.gz".
    static std::string modelURL();

    /// $XDG_DATA_HOME (default ~/.local/share) + "Corvane Zovuruv"; created
    /// when missing (a failure to create it is ignored).
    static std::filesystem::path baseDir();
    static std::filesystem::path modelFolder();     ///< baseDir + the model folder
    static std::filesystem::path tokenizerFolder(); ///< baseDir + "corvanetok"

    /// Returns at once when the model folder exists; otherwise downloads the
    /// archive, unpacks it into a staging folder and moves its content into
    /// place, the model folder last, so a broken or partial archive never
    /// counts as installed. Throws platform::system::SystemError.
    static void ensureModelDownloaded();

    /// Removes every special-token marker "<|...|>" and trims white space.
    static std::string cleanup(const std::string& text);

private:
    struct LoadTask {
        uint64_t generation = 0;
        std::shared_future<std::shared_ptr<murmex::Murmex>> result;
    };
    EngineLoader loader_;
    std::mutex mutex_;
    std::optional<LoadTask> loadTask_;
    uint64_t nextGeneration_ = 1;
};

} // namespace halvex
