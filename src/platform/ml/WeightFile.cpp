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

// The mapping, unmapped when the file and the last weight using it are gone.
struct WeightFile::Mapping {
    void* address = nullptr;
    size_t size = 0;
    ~Mapping() {
        if (address) ::munmap(address, size);
    }
};

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
    const size_t size = static_cast<size_t>(info.st_size);
    for (const WeightEntry& weight : manifest.weights) {
        uint64_t end = weight.offset + weight.byteCount();
        if (end < weight.offset || end > size) {
            ::close(fd);
            throw ModelError(ModelError::Kind::invalidFormat,
                             "Model weights are truncated: " + file.string() + " holds " +
                                 std::to_string(size) + " bytes but weight \"" + weight.name +
                                 "\" ends at byte " + std::to_string(end));
        }
    }
    auto mapping = std::make_shared<Mapping>();
    if (size > 0) {
        void* address = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (address == MAP_FAILED) {
            int code = errno;
            ::close(fd);
            throw ModelError(ModelError::Kind::invalidFormat, "Cannot map model weights " +
                                                                  file.string() + ": " +
                                                                  std::strerror(code));
        }
        mapping->address = address;
        mapping->size = size;
    }
    ::close(fd);
    mapping_ = std::move(mapping);
}

WeightFile::~WeightFile() = default;

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
    return static_cast<const char*>(mapping_->address) + entry.offset;
}

WeightBuffer<float> WeightFile::floats(const std::string& name,
                                       const std::vector<int64_t>& shape) const {
    const WeightEntry& found = entry(name, shape);
    const size_t count = static_cast<size_t>(found.count());
    // Offsets are multiples of the manifest's alignment, so the elements are aligned.
    if (found.dataType == ElementType::float32)
        return {mapping_, static_cast<const float*>(bytes(found)), count};
    std::shared_ptr<float[]> widened(new float[count]); // every element written below
    kernels::halfToFloat(static_cast<const uint16_t*>(bytes(found)), widened.get(), count);
    return {widened, widened.get(), count};
}

WeightBuffer<uint16_t> WeightFile::halves(const std::string& name,
                                          const std::vector<int64_t>& shape) const {
    const WeightEntry& found = entry(name, shape);
    const size_t count = static_cast<size_t>(found.count());
    if (found.dataType == ElementType::float16)
        return {mapping_, static_cast<const uint16_t*>(bytes(found)), count};
    std::shared_ptr<uint16_t[]> rounded(new uint16_t[count]); // every element written below
    kernels::floatToHalf(static_cast<const float*>(bytes(found)), rounded.get(), count);
    return {rounded, rounded.get(), count};
}

} // namespace platform::ml
