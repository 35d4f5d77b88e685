#include "platform/ml/ModelFolderWriter.h"

#include "platform/ml/kernels/Convert.h"

#include <atomic>
#include <fstream>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace platform::ml {

namespace {

std::atomic<unsigned> temporaryCounter{0};

void writeOrThrow(std::ofstream& stream, const void* data, size_t bytes,
                  const std::filesystem::path& file) {
    stream.write(static_cast<const char*>(data), static_cast<std::streamsize>(bytes));
    if (!stream) throw std::runtime_error("Cannot write " + file.string());
}

} // namespace

ModelManifest ModelFolderWriter::write(const std::filesystem::path& folder, ModelManifest manifest,
                                       const WeightSource& source) {
    std::filesystem::path target = folder.lexically_normal();
    if (target.filename().empty()) target = target.parent_path();
    std::filesystem::path temporary = target;
    temporary +=
        ".partial-" + std::to_string(::getpid()) + "-" + std::to_string(temporaryCounter++);
    std::filesystem::remove_all(temporary);
    std::filesystem::create_directories(temporary);

    try {
        uint64_t offset = 0;
        for (WeightEntry& entry : manifest.weights) {
            entry.offset = offset;
            uint64_t end = offset + entry.byteCount();
            offset = (end + ModelManifest::kWeightAlignment - 1) / ModelManifest::kWeightAlignment *
                     ModelManifest::kWeightAlignment;
        }

        std::filesystem::path weightsPath = temporary / ModelManifest::kWeightsFileName;
        std::ofstream weights(weightsPath, std::ios::binary | std::ios::trunc);
        if (!weights) throw std::runtime_error("Cannot create " + weightsPath.string());
        uint64_t written = 0;
        std::vector<float> values;
        std::vector<uint16_t> halves;
        static const char zeros[ModelManifest::kWeightAlignment] = {};
        for (const WeightEntry& entry : manifest.weights) {
            writeOrThrow(weights, zeros, entry.offset - written, weightsPath);
            values.assign(static_cast<size_t>(entry.count()), 0.0f);
            source(entry, std::span<float>(values));
            if (entry.dataType == ElementType::float16) {
                halves.resize(values.size());
                kernels::floatToHalf(values.data(), halves.data(), values.size());
                writeOrThrow(weights, halves.data(), halves.size() * 2, weightsPath);
            } else if (entry.dataType == ElementType::float32) {
                writeOrThrow(weights, values.data(), values.size() * 4, weightsPath);
            } else {
                throw std::runtime_error("Weight \"" + entry.name +
                                         "\" must be stored as float16 or float32");
            }
            written = entry.offset + entry.byteCount();
        }
        weights.close();
        if (!weights) throw std::runtime_error("Cannot write " + weightsPath.string());

        std::filesystem::path manifestPath = temporary / ModelManifest::kManifestFileName;
        std::ofstream json(manifestPath, std::ios::binary | std::ios::trunc);
        std::string text = manifest.toJson();
        writeOrThrow(json, text.data(), text.size(), manifestPath);
        json.close();
        if (!json) throw std::runtime_error("Cannot write " + manifestPath.string());

        std::filesystem::remove_all(target);
        std::filesystem::rename(temporary, target);
    } catch (...) {
        std::error_code ignored;
        std::filesystem::remove_all(temporary, ignored);
        throw;
    }
    return manifest;
}

} // namespace platform::ml
