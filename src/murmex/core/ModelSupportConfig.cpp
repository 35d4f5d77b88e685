#include "murmex/core/ModelSupportConfig.h"

#include "murmex/core/Constants.h"
#include "murmex/utilities/JsonCoding.h"
#include "tessary_core/ArrayExtensions.h"
#include "tessary_core/Logging.h"

#include <unordered_set>

namespace murmex {

namespace {

constexpr const char* kDefaultModel = "openai_whisper-base";

// Length in characters (code points) of UTF-8 text.
size_t characterCount(std::string_view text) {
    size_t count = 0;
    for (unsigned char byte : text)
        count += (byte & 0xC0) != 0x80;
    return count;
}

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
            size_t length = characterCount(identifier);
            if (!best || length > bestLength) {
                best = &row;
                bestLength = length;
            }
        }
    }
    if (best) {
        tessary::Logging::debug("Matched " + std::string(deviceIdentifier) +
                                " to devices: " + listLiteral(best->identifiers));
        return best->models;
    }
    tessary::Logging::info("No device support found for " + std::string(deviceIdentifier) +
                           ", using default");
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

} // namespace murmex
