#pragma once
// A model-support table: per device family, the compiled model folders of the
// repository the device can run and the one to take by default. Repositories
// publish one as "config.json"; the built-in fallback table
// (`Constants::fallbackModelSupportConfig()`) serves when the document cannot
// be had and fills in families the document does not list.

#include "murmex/base/JsonCodingFwd.h"
#include "murmex/core/DeviceSupport.h"
#include "murmex/core/ModelSupport.h"

#include <string>
#include <string_view>
#include <vector>

namespace murmex {

struct ModelSupportConfig {
    /// Builds a table from rows. With `includeFallback`, and when the fallback
    /// table's name contains `repoName`, the rows are merged with the fallback
    /// rows first (`mergeDeviceSupport`). Then `knownModels` collects every
    /// supported folder once, `defaultSupport` supports all of them with the
    /// default "openai_whisper-base", and each row's `disabled` list becomes
    /// the known folders it does not support.
    ModelSupportConfig(std::string repoName, std::string repoVersion,
                       std::vector<DeviceSupport> deviceSupports, bool includeFallback = true);

    std::string repoName;
    std::string repoVersion;
    std::vector<DeviceSupport> deviceSupports;
    std::vector<std::string> knownModels;
    DeviceSupport defaultSupport;

    /// The models of the row whose identifier is the longest prefix of
    /// `deviceIdentifier` (the first such on ties), else of `defaultSupport`.
    ModelSupport modelSupport(std::string_view deviceIdentifier) const;

    /// The document's rows first, each widened with the supported list of the
    /// first fallback row that shares an identifier with it; then every
    /// fallback row none of whose identifiers the document mentions.
    static std::vector<DeviceSupport>
    mergeDeviceSupport(const std::vector<DeviceSupport>& remote,
                       const std::vector<DeviceSupport>& fallback);

    /// Reads "name", "version" and "device_support" (rows with optional
    /// "chips", "identifiers" and "models" {"default", "supported"}; other keys
    /// ignored) and builds the table with the fallback merge.
    static ModelSupportConfig fromJson(std::string_view text);
    static ModelSupportConfig fromJsonValue(yyjson_val* value);
    /// Writes the same keys, the rows as held; models with "default" and
    /// "supported" only.
    std::string toJson(bool pretty = false) const;
    yyjson_mut_val* toJsonValue(json::Writer& writer) const;
};

namespace Constants {
/// The built-in model-support table.
const ModelSupportConfig& fallbackModelSupportConfig();
/// Every model folder the fallback table supports, once each, in row order.
const std::vector<std::string>& knownModels();
} // namespace Constants

} // namespace murmex
