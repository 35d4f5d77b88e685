#include "murmex/core/ModelSupportConfig.h"

#include "murmex/base/JsonCoding.h"
#include "platform/text/Utf8.h"
#include "tessary_core/ArrayExtensions.h"
#include "tessary_core/Logging.h"

#include <unordered_set>

namespace murmex {

namespace {

constexpr const char* kDefaultModel = "openai_whisper-base";

std::string listLiteral(const std::vector<std::string>& items) {
    std::string text = "[";
    for (size_t i = 0; i < items.size(); ++i) {
        if (i > 0) text += ", ";
        text += '"' + items[i] + '"';
    }
    return text + "]";
}

std::vector<std::string> concatenated(const std::vector<std::string>& a,
                                      const std::vector<std::string>& b) {
    std::vector<std::string> result = a;
    result.insert(result.end(), b.begin(), b.end());
    return result;
}

} // namespace

ModelSupportConfig::ModelSupportConfig(std::string repoName, std::string repoVersion,
                                       std::vector<DeviceSupport> rows, bool includeFallback)
    : repoName(std::move(repoName)), repoVersion(std::move(repoVersion)) {
    const bool merge = includeFallback && Constants::fallbackModelSupportConfig().repoName.find(
                                              this->repoName) != std::string::npos;
    deviceSupports =
        merge ? mergeDeviceSupport(rows, Constants::fallbackModelSupportConfig().deviceSupports)
              : std::move(rows);

    std::vector<std::string> allSupported;
    for (const DeviceSupport& row : deviceSupports) {
        allSupported.insert(allSupported.end(), row.models.supported.begin(),
                            row.models.supported.end());
    }
    knownModels = tessary::orderedSet(allSupported);
    defaultSupport = DeviceSupport{std::nullopt, {}, ModelSupport{kDefaultModel, knownModels, {}}};

    for (DeviceSupport& row : deviceSupports) {
        std::unordered_set<std::string> supported(row.models.supported.begin(),
                                                  row.models.supported.end());
        row.models.disabled.clear();
        for (const std::string& model : knownModels) {
            if (!supported.count(model)) row.models.disabled.push_back(model);
        }
    }
}

std::vector<DeviceSupport>
ModelSupportConfig::mergeDeviceSupport(const std::vector<DeviceSupport>& remote,
                                       const std::vector<DeviceSupport>& fallback) {
    std::unordered_set<std::string> remoteIdentifiers;
    for (const DeviceSupport& row : remote)
        remoteIdentifiers.insert(row.identifiers.begin(), row.identifiers.end());

    std::vector<DeviceSupport> merged;
    for (const DeviceSupport& row : remote) {
        std::unordered_set<std::string> own(row.identifiers.begin(), row.identifiers.end());
        const DeviceSupport* match = nullptr;
        for (const DeviceSupport& candidate : fallback) {
            for (const std::string& identifier : candidate.identifiers) {
                if (own.count(identifier)) {
                    match = &candidate;
                    break;
                }
            }
            if (match) break;
        }
        DeviceSupport result = row;
        if (match) {
            result.models = ModelSupport{
                row.models.defaultModel,
                tessary::orderedSet(concatenated(row.models.supported, match->models.supported)),
                {}};
        }
        merged.push_back(std::move(result));
    }
    for (const DeviceSupport& row : fallback) {
        bool mentioned = false;
        for (const std::string& identifier : row.identifiers)
            mentioned = mentioned || remoteIdentifiers.count(identifier);
        if (!mentioned) merged.push_back(row);
    }
    return merged;
}

ModelSupport ModelSupportConfig::modelSupport(std::string_view deviceIdentifier) const {
    const DeviceSupport* best = nullptr;
    size_t bestLength = 0;
    for (const DeviceSupport& row : deviceSupports) {
        for (const std::string& identifier : row.identifiers) {
            if (!deviceIdentifier.starts_with(identifier)) continue;
            size_t length = platform::text::codePointCount(identifier);
            if (!best || length > bestLength) {
                best = &row;
                bestLength = length;
            }
        }
    }
    if (best) {
        TESSARY_LOG(debug, "Matched " + std::string(deviceIdentifier) +
                               " to devices: " + listLiteral(best->identifiers));
        return best->models;
    }
    TESSARY_LOG(info,
                "No device support found for " + std::string(deviceIdentifier) + ", using default");
    return defaultSupport.models;
}

ModelSupportConfig ModelSupportConfig::fromJsonValue(yyjson_val* o) {
    using namespace json;
    expectObject(o, "ModelSupportConfig");
    std::string name = toString(member(o, "name"), "name");
    std::string version = toString(member(o, "version"), "version");
    auto rows =
        toArray<DeviceSupport>(member(o, "device_support"), "device_support", [](yyjson_val* row) {
            expectObject(row, "device_support");
            DeviceSupport device;
            if (yyjson_val* chips = optionalMember(row, "chips"))
                device.chips = toString(chips, "chips");
            device.identifiers = toStrings(member(row, "identifiers"), "identifiers");
            yyjson_val* models = member(row, "models");
            expectObject(models, "models");
            device.models.defaultModel = toString(member(models, "default"), "default");
            device.models.supported = toStrings(member(models, "supported"), "supported");
            return device;
        });
    return ModelSupportConfig(std::move(name), std::move(version), std::move(rows), true);
}

yyjson_mut_val* ModelSupportConfig::toJsonValue(json::Writer& w) const {
    auto strings = [&w](const std::vector<std::string>& items) {
        return w.arrayOf(items, [&w](const std::string& item) { return w.string(item); });
    };
    yyjson_mut_val* o = w.object();
    w.add(o, "name", w.string(repoName));
    w.add(o, "version", w.string(repoVersion));
    w.add(o, "device_support", w.arrayOf(deviceSupports, [&](const DeviceSupport& row) {
        yyjson_mut_val* device = w.object();
        if (row.chips) w.add(device, "chips", w.string(*row.chips));
        w.add(device, "identifiers", strings(row.identifiers));
        yyjson_mut_val* models = w.object();
        w.add(models, "default", w.string(row.models.defaultModel));
        w.add(models, "supported", strings(row.models.supported));
        w.add(device, "models", models);
        return device;
    }));
    return o;
}

ModelSupportConfig ModelSupportConfig::fromJson(std::string_view text) {
    return json::decodeDocument<ModelSupportConfig>(text);
}

std::string ModelSupportConfig::toJson(bool pretty) const {
    return json::encodeDocument(*this, pretty);
}

namespace Constants {

namespace {

ModelSupportConfig makeFallbackModelSupportConfig() {
    const std::vector<std::string> s1{"openai_whisper-base", "openai_whisper-base.en",
                                      "openai_whisper-tiny", "openai_whisper-tiny.en"};
    const std::vector<std::string> s2{"openai_whisper-tiny",
                                      "openai_whisper-tiny.en",
                                      "openai_whisper-base",
                                      "openai_whisper-base.en",
                                      "openai_whisper-small",
                                      "openai_whisper-small.en",
                                      "openai_whisper-large-v2_949MB",
                                      "openai_whisper-large-v2_turbo_955MB",
                                      "openai_whisper-large-v3_947MB",
                                      "openai_whisper-large-v3_turbo_954MB",
                                      "distil-whisper_distil-large-v3_594MB",
                                      "distil-whisper_distil-large-v3_turbo_600MB",
                                      "openai_whisper-large-v3-v20240930_626MB",
                                      "openai_whisper-large-v3-v20240930_turbo_632MB"};
    const std::vector<std::string> s3{"openai_whisper-tiny",
                                      "openai_whisper-tiny.en",
                                      "openai_whisper-base",
                                      "openai_whisper-base.en",
                                      "openai_whisper-small",
                                      "openai_whisper-small.en",
                                      "openai_whisper-large-v2",
                                      "openai_whisper-large-v2_949MB",
                                      "openai_whisper-large-v3",
                                      "openai_whisper-large-v3_947MB",
                                      "distil-whisper_distil-large-v3",
                                      "distil-whisper_distil-large-v3_594MB",
                                      "openai_whisper-large-v3-v20240930_626MB"};
    const std::vector<std::string> s4{"openai_whisper-tiny",
                                      "openai_whisper-tiny.en",
                                      "openai_whisper-base",
                                      "openai_whisper-base.en",
                                      "openai_whisper-small",
                                      "openai_whisper-small.en",
                                      "openai_whisper-large-v2",
                                      "openai_whisper-large-v2_949MB",
                                      "openai_whisper-large-v2_turbo",
                                      "openai_whisper-large-v2_turbo_955MB",
                                      "openai_whisper-large-v3",
                                      "openai_whisper-large-v3_947MB",
                                      "openai_whisper-large-v3_turbo",
                                      "openai_whisper-large-v3_turbo_954MB",
                                      "distil-whisper_distil-large-v3",
                                      "distil-whisper_distil-large-v3_594MB",
                                      "distil-whisper_distil-large-v3_turbo",
                                      "distil-whisper_distil-large-v3_turbo_600MB",
                                      "openai_whisper-large-v3-v20240930",
                                      "openai_whisper-large-v3-v20240930_turbo",
                                      "openai_whisper-large-v3-v20240930_626MB",
                                      "openai_whisper-large-v3-v20240930_turbo_632MB"};
    const std::vector<std::string> s5{"openai_whisper-tiny",  "openai_whisper-tiny.en",
                                      "openai_whisper-base",  "openai_whisper-base.en",
                                      "openai_whisper-small", "openai_whisper-small.en"};

    std::vector<DeviceSupport> rows{
        {"A12, A13, S9, S10",
         {"iPhone11", "iPhone12", "iPad12,1", "iPad12,2", "Watch7", "Watch8"},
         {"openai_whisper-tiny", s1}},
        {"A16, A17 Pro, A18",
         {"iPhone15", "iPhone16", "iPhone17", "iPad15,7", "iPad15,8", "iPad16,1", "iPad16,2"},
         {"openai_whisper-base", s2}},
        {"M1",
         {"MacBookPro17,1", "MacBookPro18,1", "MacBookPro18,2", "MacBookPro18,3", "MacBookPro18,4",
          "MacBookAir10,1", "Macmini9,1",     "iMac21,1",       "iMac21,2",       "Mac13",
          "iPad13,4",       "iPad13,5",       "iPad13,6",       "iPad13,7",       "iPad13,8",
          "iPad13,9",       "iPad13,10",      "iPad13,11",      "iPad13,16",      "iPad13,17"},
         {"openai_whisper-large-v3-v20240930_626MB", s3}},
        {"M2, M3, M4",
         {"Mac14", "Mac15", "Mac16", "iPad14,3", "iPad14,4", "iPad14,5", "iPad14,6", "iPad14,8",
          "iPad14,9", "iPad14,10", "iPad14,11", "iPad15", "iPad16"},
         {"openai_whisper-large-v3-v20240930", s4}},
        {"A14",
         {"iPhone13", "iPad13,1", "iPad13,2", "iPad13,18", "iPad13,19"},
         {"openai_whisper-base", s5}},
        {"A15", {"iPhone14", "iPad14,1", "iPad14,2"}, {"openai_whisper-base", s2}},
    };
    return ModelSupportConfig("murmex-coreml-fallback", "0.4", std::move(rows), false);
}

} // namespace

const ModelSupportConfig& fallbackModelSupportConfig() {
    static const ModelSupportConfig config = makeFallbackModelSupportConfig();
    return config;
}

const std::vector<std::string>& knownModels() {
    return fallbackModelSupportConfig().knownModels;
}

} // namespace Constants

} // namespace murmex
