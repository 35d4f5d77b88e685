#include "platform/ml/WeightFile.h"

#include "platform/ml/ModelError.h"
#include "platform/ml/ShapeText.h"
#include "platform/ml/kernels/Convert.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::ml {

WeightFile::WeightFile(const std::filesystem::path& file, const ModelManifest& manifest)
    : path_(file), manifest_(&manifest) {
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        throw ModelError(ModelError::Kind::notFound, "Model weights not found: " + file.string() +
                                                         " (" + std::strerror(errno) + ")");
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        throw ModelError(ModelError::Kind::invalidFormat,
                         "Model weights are not a regular file: " + file.string());
    }
    size_ = static_cast<size_t>(info.st_size);
    for (const WeightEntry& weight : manifest.weights) {
        uint64_t end = weight.offset + weight.byteCount();
        if (end < weight.offset || end > size_) {
            ::close(fd);
            throw ModelError(ModelError::Kind::invalidFormat,
                             "Model weights are truncated: " + file.string() + " holds " +
                                 std::to_string(size_) + " bytes but weight \"" + weight.name +
                                 "\" ends at byte " + std::to_string(end));
        }
    }
    if (size_ > 0) {
        mapping_ = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
        if (mapping_ == MAP_FAILED) {
            mapping_ = nullptr;
            int code = errno;
            ::close(fd);
            throw ModelError(ModelError::Kind::invalidFormat, "Cannot map model weights " +
                                                                  file.string() + ": " +
                                                                  std::strerror(code));
        }
    }
    ::close(fd);
}

WeightFile::~WeightFile() {
    if (mapping_) ::munmap(mapping_, size_);
}

const WeightEntry& WeightFile::entry(const std::string& name,
                                     const std::vector<int64_t>& shape) const {
    const WeightEntry* found = manifest_->weight(name);
    if (!found) {
        throw ModelError(ModelError::Kind::invalidFormat,
                         "Model weight \"" + name + "\" is missing from " + path_.string());
    }
    if (found->shape != shape) {
        throw ModelError(ModelError::Kind::invalidFormat, "Model weight \"" + name + "\" in " +
                                                              path_.string() + " has shape " +
                                                              shapeText(found->shape) + " where " +
                                                              shapeText(shape) + " is expected");
    }
    if (found->dataType != ElementType::float16 && found->dataType != ElementType::float32) {
        throw ModelError(ModelError::Kind::invalidFormat, "Model weight \"" + name + "\" in " +
                                                              path_.string() +
                                                              " must be float16 or float32");
    }
    return *found;
}

const void* WeightFile::bytes(const WeightEntry& entry) const {
    return static_cast<const char*>(mapping_) + entry.offset;
}

std::vector<float> WeightFile::floats(const std::string& name,
                                      const std::vector<int64_t>& shape) const {
    const WeightEntry& found = entry(name, shape);
    std::vector<float> result(static_cast<size_t>(found.count()));
    if (found.dataType == ElementType::float32) {
        std::memcpy(result.data(), bytes(found), result.size() * sizeof(float));
    } else {
        kernels::halfToFloat(static_cast<const uint16_t*>(bytes(found)), result.data(),
                             result.size());
    }
    return result;
}

} // namespace platform::ml

namespace platform::ml {

std::vector<uint16_t> WeightFile::halves(const std::string& name,
                                         const std::vector<int64_t>& shape) const {
    const WeightEntry& found = entry(name, shape);
    std::vector<uint16_t> result(static_cast<size_t>(found.count()));
    if (found.dataType == ElementType::float16) {
        std::memcpy(result.data(), bytes(found), result.size() * sizeof(uint16_t));
    } else {
        kernels::floatToHalf(static_cast<const float*>(bytes(found)), result.data(), result.size());
    }
    return result;
}

} // namespace platform::ml
