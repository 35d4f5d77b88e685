#include "platform/ml/ModelFolderWriter.h"

#include "platform/ml/ModelError.h"
#include "platform/ml/kernels/Convert.h"

#include <atomic>
#include <cerrno>
#include <fstream>
#include <string>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace platform::ml {

namespace {

std::atomic<unsigned> temporaryCounter{0};

[[noreturn]] void writeFailed(const std::string& what, const std::filesystem::path& path,
                              std::error_code reason) {
    throw ModelError(ModelError::Kind::writeFailed,
                     what + " " + path.string() + ": " + reason.message());
}

// The reason of a failed stream operation: the system's, when it left one.
std::error_code lastSystemError() {
    return std::error_code(errno != 0 ? errno : EIO, std::generic_category());
}

void writeOrThrow(std::ofstream& stream, const void* data, size_t bytes,
                  const std::filesystem::path& file) {
    errno = 0;
    stream.write(static_cast<const char*>(data), static_cast<std::streamsize>(bytes));
    if (!stream) writeFailed("Cannot write", file, lastSystemError());
}

void closeOrThrow(std::ofstream& stream, const std::filesystem::path& file) {
    errno = 0;
    stream.close();
    if (!stream) writeFailed("Cannot write", file, lastSystemError());
}

std::ofstream createOrThrow(const std::filesystem::path& file) {
    errno = 0;
    std::ofstream stream(file, std::ios::binary | std::ios::trunc);
    if (!stream) writeFailed("Cannot create", file, lastSystemError());
    return stream;
}

// Moves the finished folder to `target`. A folder already there is first
// moved aside and only removed once the new one stands in its place, so a
// failure leaves the old folder as it was.
void moveIntoPlace(const std::filesystem::path& finished, const std::filesystem::path& target) {
    std::error_code error;
    std::filesystem::path aside;
    if (std::filesystem::exists(std::filesystem::symlink_status(target, error))) {
        aside = finished;
        aside += ".old";
        std::filesystem::rename(target, aside, error);
        if (error) writeFailed("Cannot replace", target, error);
    }
    std::filesystem::rename(finished, target, error);
    if (error) {
        std::error_code ignored;
        if (!aside.empty()) std::filesystem::rename(aside, target, ignored);
        writeFailed("Cannot move the new model folder to", target, error);
    }
    if (!aside.empty()) std::filesystem::remove_all(aside, error);
}

} // namespace

ModelManifest ModelFolderWriter::write(const std::filesystem::path& folder, ModelManifest manifest,
                                       const WeightSource& source) {
    std::filesystem::path target = folder.lexically_normal();
    if (target.filename().empty()) target = target.parent_path();
    std::filesystem::path temporary = target;
    temporary +=
        ".partial-" + std::to_string(::getpid()) + "-" + std::to_string(temporaryCounter++);
    std::error_code error;
    std::filesystem::remove_all(temporary, error);
    if (!error) std::filesystem::create_directories(temporary, error);
    if (error) writeFailed("Cannot create", temporary, error);

    try {
        uint64_t offset = 0;
        for (WeightEntry& entry : manifest.weights) {
            entry.offset = offset;
            uint64_t end = offset + entry.byteCount();
            offset = (end + ModelManifest::kWeightAlignment - 1) / ModelManifest::kWeightAlignment *
                     ModelManifest::kWeightAlignment;
        }

        std::filesystem::path weightsPath = temporary / ModelManifest::kWeightsFileName;
        std::ofstream weights = createOrThrow(weightsPath);
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
                throw ModelError(ModelError::Kind::unsupported,
                                 "Weight \"" + entry.name +
                                     "\" must be stored as float16 or float32");
            }
            written = entry.offset + entry.byteCount();
        }
        closeOrThrow(weights, weightsPath);

        std::filesystem::path manifestPath = temporary / ModelManifest::kManifestFileName;
        std::ofstream json = createOrThrow(manifestPath);
        std::string text = manifest.toJson();
        writeOrThrow(json, text.data(), text.size(), manifestPath);
        closeOrThrow(json, manifestPath);

        moveIntoPlace(temporary, target);
    } catch (...) {
        std::error_code ignored;
        std::filesystem::remove_all(temporary, ignored);
        throw;
    }
    return manifest;
}

} // namespace platform::ml
