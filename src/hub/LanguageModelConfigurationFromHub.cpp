#include "hub/LanguageModelConfigurationFromHub.h"

#include "hub/HubClientError.h"
#include "hub/YYJSONParser.h"
#include "platform/system/LargeAllocator.h"
#include "platform/system/LogSink.h"
#include "platform/system/SystemError.h"
#include "platform/text/CaseMapping.h"
#include "platform/text/UnicodeProperties.h"
#include "platform/text/Utf8.h"

#include <cctype>
#include <fstream>
#include <mutex>
#include <vector>

namespace hub {
namespace text = platform::text;
namespace fs = std::filesystem;
namespace {

std::mutex& bundleMutex() {
    static std::mutex m;
    return m;
}

std::optional<fs::path>& bundleOverride() {
    static std::optional<fs::path> path;
    return path;
}

using Bytes = std::vector<char, platform::system::LargeAllocator<char>>;

// The whole file in one read where its size is known (a tokenizer document
// is megabytes long), in a block of its own when large.
Bytes readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw HubClientError::fileSystemError("The file \"" + path.filename().string() +
                                              "\" couldn't be opened.");
    std::error_code ec;
    const auto expected = fs::file_size(path, ec);
    Bytes bytes(ec ? 0 : static_cast<std::size_t>(expected));
    std::size_t filled = 0;
    for (;;) {
        if (filled == bytes.size()) bytes.resize(std::max<std::size_t>(4096, bytes.size() * 2));
        in.read(bytes.data() + filled, static_cast<std::streamsize>(bytes.size() - filled));
        filled += static_cast<std::size_t>(in.gcount());
        if (!in) break;
    }
    if (in.bad())
        throw HubClientError::fileSystemError("The file \"" + path.filename().string() +
                                              "\" couldn't be read.");
    bytes.resize(filled);
    return bytes;
}

std::string_view textOf(const Bytes& bytes) {
    return std::string_view(bytes.data(), bytes.size());
}

std::string fileURLString(const fs::path& path) {
    static constexpr std::string_view kKeep = "-._~/!$&'()*+,;=:@";
    std::string out = "file://";
    for (unsigned char c : fs::absolute(path).string()) {
        if (std::isalnum(c) || kKeep.find(static_cast<char>(c)) != std::string_view::npos) {
            out.push_back(static_cast<char>(c));
        } else {
            static constexpr char kHex[] = "0123456789ABCDEF";
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

Config parseDocument(const fs::path& path) {
    const Bytes bytes = readFile(path);
    try {
        return YYJSONParser::parseToConfig(textOf(bytes));
    } catch (const YYJSONParser::ParseError& e) {
        throw HubClientError::jsonSerialization(
            path, "JSON parsing failed for " + fileURLString(path) + ": " + e.errorDescription() +
                      ". If this is a private model, verify that QN_TOKEN is set.");
    }
}

std::optional<std::string> chatTemplateOf(const fs::path& folder) {
    const fs::path jinjaFile = folder / "chat_template.jinja";
    const fs::path jsonFile = folder / "chat_template.json";
    std::error_code ec;
    if (fs::exists(jinjaFile, ec)) {
        try {
            std::string text(textOf(readFile(jinjaFile)));
            if (!text::isValidUtf8(text)) return std::nullopt;
            return text;
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }
    if (fs::exists(jsonFile, ec)) {
        try {
            return parseDocument(jsonFile)["chatTemplate"].string();
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

// First letter of each blank-separated word upper case, the rest lower case.
std::string capitalized(std::string_view text) {
    std::string out;
    bool wordStart = true;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t start = i;
        const char32_t cp = text::decodeNext(text, i);
        const std::string_view piece = text.substr(start, i - start);
        const bool separator = cp == ' ' || cp == '\t' || text::isNewline(cp);
        if (separator) {
            out.append(piece);
            wordStart = true;
        } else {
            out += wordStart ? text::toUpper(piece) : text::toLower(piece);
            wordStart = false;
        }
    }
    return out;
}

bool isValidModelType(std::string_view type) {
    if (type.empty()) return false;
    for (std::size_t i = 0; i < type.size();) {
        const char32_t cp = text::decodeNext(type, i);
        if (cp != '_' && cp != '-' && !text::isAlphanumeric(cp)) return false;
    }
    return true;
}

} // namespace

const std::vector<std::string>& LanguageModelConfigurationFromHub::fileNames() {
    static const std::vector<std::string> names = {"config.json", "tokenizer_config.json",
                                                   "chat_template.jinja", "chat_template.json",
                                                   "tokenizer.json"};
    return names;
}

LanguageModelConfigurationFromHub::LanguageModelConfigurationFromHub(fs::path modelFolder)
    : configPromise_(std::async(std::launch::async, [folder = std::move(modelFolder)] {
                         return loadConfig(folder);
                     }).share()) {}

LanguageModelConfigurationFromHub::LanguageModelConfigurationFromHub(std::string modelName,
                                                                     std::string revision,
                                                                     HubApi hubApi)
    : configPromise_(std::async(std::launch::async, [name = std::move(modelName),
                                                     revision = std::move(revision),
                                                     hubApi = std::move(hubApi)] {
                         return loadConfig(name, revision, hubApi);
                     }).share()) {}

LanguageModelConfigurationFromHub::Configurations
LanguageModelConfigurationFromHub::loadConfig(const std::string& modelName,
                                              const std::string& revision, const HubApi& hubApi) {
    try {
        const fs::path folder =
            hubApi.snapshot(Repo{modelName, RepoType::models}, revision, fileNames());
        return loadConfig(folder);
    } catch (const platform::system::SystemError& error) {
        if (error.domain() != "NSURLErrorDomain") throw;
        throw HubClientError::networkError(error.localizedDescription(), std::current_exception());
    }
}

LanguageModelConfigurationFromHub::Configurations
LanguageModelConfigurationFromHub::loadConfig(const fs::path& folder) {
    try {
        Configurations result;
        std::error_code ec;
        if (fs::exists(folder / "config.json", ec))
            result.modelConfig = parseDocument(folder / "config.json");
        if (!fs::exists(folder / "tokenizer.json", ec))
            throw HubClientError::configurationMissing("tokenizer.json");
        result.tokenizerData = parseDocument(folder / "tokenizer.json");
        if (fs::exists(folder / "tokenizer_config.json", ec))
            result.tokenizerConfig = parseDocument(folder / "tokenizer_config.json");
        if (auto chatTemplate = chatTemplateOf(folder)) {
            Config::Dictionary members;
            if (result.tokenizerConfig && result.tokenizerConfig->dictionary())
                members = *result.tokenizerConfig->dictionary();
            members.insert_or_assign(BinaryDistinctString("chat_template"),
                                     Config(std::move(*chatTemplate)));
            result.tokenizerConfig = Config(std::move(members));
        }
        return result;
    } catch (const HubClientError&) {
        throw;
    } catch (const std::exception& e) {
        throw HubClientError::fileSystemError(e.what(), std::current_exception());
    }
}

std::optional<Config> LanguageModelConfigurationFromHub::modelConfig() const {
    return configPromise_.get().modelConfig;
}

Config LanguageModelConfigurationFromHub::tokenizerData() const {
    return configPromise_.get().tokenizerData;
}

std::optional<std::string> LanguageModelConfigurationFromHub::modelType() const {
    const auto& modelConfig = configPromise_.get().modelConfig;
    if (!modelConfig) return std::nullopt;
    return (*modelConfig)["modelType"].string();
}

std::optional<Config> LanguageModelConfigurationFromHub::tokenizerConfig() const {
    const auto& loaded = configPromise_.get().tokenizerConfig;
    if (!loaded) {
        const auto type = modelType();
        if (!type) return std::nullopt;
        return fallbackTokenizerConfig(*type);
    }
    if ((*loaded)["tokenizerClass"].string()) return loaded;
    const auto type = modelType();
    if (!type) return loaded;

    Config::Dictionary merged;
    if (const auto* own = loaded->dictionary()) merged = *own;
    if (const auto fallback = fallbackTokenizerConfig(*type)) {
        const auto* entries = fallback->dictionary();
        if (!entries) return Config(Config::Dictionary{});
        for (const auto& [key, value] : *entries)
            merged.insert_or_assign(key, value); // the fallback wins
        return Config(std::move(merged));
    }
    merged.insert_or_assign(BinaryDistinctString("tokenizer_class"),
                            Config(capitalized(*type) + "Tokenizer"));
    return Config(std::move(merged));
}

fs::path LanguageModelConfigurationFromHub::resourceBundleDirectory() {
    {
        std::lock_guard lock(bundleMutex());
        if (bundleOverride()) return *bundleOverride();
    }
    std::error_code ec;
    const fs::path executable = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return {};
    return executable.parent_path() / "drovik_Hub.bundle";
}

void LanguageModelConfigurationFromHub::setResourceBundleDirectory(fs::path directory) {
    std::lock_guard lock(bundleMutex());
    bundleOverride() = std::move(directory);
}

std::optional<Config>
LanguageModelConfigurationFromHub::fallbackTokenizerConfig(const std::string& modelType) {
    if (!isValidModelType(modelType)) return std::nullopt;
    const fs::path bundle = resourceBundleDirectory();
    if (bundle.empty()) return std::nullopt;
    const fs::path file = bundle / (modelType + "_tokenizer_config.json");
    std::error_code ec;
    if (!fs::is_regular_file(file, ec)) return std::nullopt;
    try {
        Config config = YYJSONParser::parseToConfig(textOf(readFile(file)));
        if (!config.dictionary())
            throw HubClientError::parseError("Failed to parse fallback tokenizer config");
        return config;
    } catch (const std::exception& e) {
        platform::system::LogSink::writeLine(
            std::string("Error loading fallback tokenizer config: ") + e.what());
        return std::nullopt;
    }
}

} // namespace hub
