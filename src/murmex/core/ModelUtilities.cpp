#include "murmex/core/ModelUtilities.h"

#include "hub/HubApi.h"
#include "hub/LanguageModelConfigurationFromHub.h"
#include "murmex/base/Constants.h"
#include "murmex/core/WhisperTokenizerWrapper.h"
#include "tessary_core/Logging.h"
#include "tokenizers/AutoTokenizer.h"
#include "tokenizers/PreTrainedTokenizer.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <set>

namespace fs = std::filesystem;

namespace murmex {

namespace {

using tessary::Logging;

const std::array<std::string, 11>& sizeKeywords() {
    static const std::array<std::string, 11> keywords = {
        "tiny",   "tiny.en",   "base",  "base.en",  "small",   "small.en",
        "medium", "medium.en", "large", "large-v2", "large-v3"};
    return keywords;
}

} // namespace

ModelVariant ModelUtilities::detectVariant(int logitsDim, int encoderDim) {
    switch (logitsDim) {
    case 51864:
        switch (encoderDim) {
        case 384:
            return ModelVariant::tinyEn;
        case 512:
            return ModelVariant::baseEn;
        case 768:
            return ModelVariant::smallEn;
        case 1024:
            return ModelVariant::mediumEn;
        default:
            return ModelVariant::baseEn;
        }
    case 51865:
        switch (encoderDim) {
        case 384:
            return ModelVariant::tiny;
        case 512:
            return ModelVariant::base;
        case 768:
            return ModelVariant::small;
        case 1024:
            return ModelVariant::medium;
        case 1280:
            return ModelVariant::largev2;
        default:
            return ModelVariant::base;
        }
    case 51866:
        return ModelVariant::largev3;
    default:
        TESSARY_LOG(error, "Unrecognized vocabulary size: " + std::to_string(logitsDim) +
                               ", defaulting to base variant");
        return ModelVariant::base;
    }
}

std::string ModelUtilities::tokenizerNameForVariant(ModelVariant variant) {
    return "openai/whisper-" + description(variant);
}

fs::path ModelUtilities::localRepoLocation(const std::optional<fs::path>& downloadBase,
                                           const std::string& repoId) {
    return hub::HubApi(downloadBase).localRepoLocation(hub::Repo{repoId, hub::RepoType::models});
}

std::shared_ptr<WhisperTokenizer>
ModelUtilities::loadTokenizer(ModelVariant variant, const std::optional<fs::path>& tokenizerFolder,
                              const std::vector<fs::path>& additionalSearchPaths,
                              bool useBackgroundSession) {
    const std::string repoId = tokenizerNameForVariant(variant);
    const hub::HubApi hubApi(tokenizerFolder, std::nullopt, std::nullopt, useBackgroundSession,
                             std::nullopt);
    const fs::path hubFolder = hubApi.localRepoLocation(hub::Repo{repoId, hub::RepoType::models});

    std::vector<fs::path> candidates{hubFolder};
    if (tokenizerFolder) candidates.push_back(*tokenizerFolder);
    candidates.insert(candidates.end(), additionalSearchPaths.begin(), additionalSearchPaths.end());

    std::optional<fs::path> localFolder;
    for (const auto& candidate : candidates) {
        const fs::path file = candidate / "tokenizer.json";
        std::error_code ec;
        const bool found = fs::is_regular_file(file, ec);
        TESSARY_LOG(debug, "Checking for local tokenizer at " + file.string() + " - " +
                               (found ? "found" : "not found"));
        if (found) {
            TESSARY_LOG(debug, "Found local tokenizer at " + candidate.string());
            localFolder = candidate;
            break;
        }
    }
    if (!localFolder) Logging::debug("No tokenizer found in any local search paths");

    if (localFolder) {
        try {
            hub::LanguageModelConfigurationFromHub configuration(*localFolder);
            auto tokenizerConfig = configuration.tokenizerConfig();
            if (!tokenizerConfig) {
                Logging::debug("Tokenizer configuration not found in local config");
            } else {
                auto tokenizerData = configuration.tokenizerData();
                auto tokenizer = std::make_shared<tokenizers::PreTrainedTokenizer>(
                    *tokenizerConfig, tokenizerData, true);
                TESSARY_LOG(debug, "Loading tokenizer from " + localFolder->string());
                return std::make_shared<WhisperTokenizerWrapper>(std::move(tokenizer),
                                                                 localFolder->string());
            }
        } catch (const std::exception& e) {
            TESSARY_LOG(debug, std::string("Error loading local tokenizer: ") + e.what());
        }
    }

    TESSARY_LOG(debug, "Downloading tokenizer from Hub at file://" + hubFolder.string());
    auto tokenizer = tokenizers::AutoTokenizer::fromPretrained(repoId, hubApi, true);
    return std::make_shared<WhisperTokenizerWrapper>(std::move(tokenizer), hubFolder.string());
}

ModelSupport ModelUtilities::modelSupport(std::string_view deviceIdentifier,
                                          const std::optional<ModelSupportConfig>& config) {
    return config ? config->modelSupport(deviceIdentifier)
                  : Constants::fallbackModelSupportConfig().modelSupport(deviceIdentifier);
}

std::vector<std::string>
ModelUtilities::formatModelFiles(const std::vector<std::string>& modelFiles) {
    const auto& keywords = sizeKeywords();
    std::vector<std::string> filters;
    for (const auto& keyword : keywords) {
        filters.push_back(keyword.find("large") != std::string::npos ? keyword : keyword + "/");
    }
    std::set<std::string> heads;
    for (const auto& file : modelFiles) {
        std::string head = file.substr(0, file.find('/')) + "/";
        bool keep = std::any_of(filters.begin(), filters.end(), [&](const std::string& f) {
            return head.find(f) != std::string::npos;
        });
        if (keep) heads.insert(head.substr(0, head.size() - 1));
    }
    auto rank = [&](const std::string& name) -> size_t {
        for (size_t i = 0; i < keywords.size(); ++i) {
            if (name.find(keywords[i]) != std::string::npos) return i;
        }
        return keywords.size();
    };
    auto firstKeyword = [&](const std::string& name) -> std::string {
        size_t r = rank(name);
        return r < keywords.size() ? keywords[r] : std::string();
    };
    std::vector<std::string> names(heads.begin(), heads.end());
    std::sort(names.begin(), names.end(), [&](const std::string& a, const std::string& b) {
        // Names that share their first size keyword (or have none) sort by
        // text; otherwise by the keyword's rank.
        if (firstKeyword(a) == firstKeyword(b)) return a < b;
        return rank(a) < rank(b);
    });
    return names;
}

} // namespace murmex
