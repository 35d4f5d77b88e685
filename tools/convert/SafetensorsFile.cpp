#include "convert/SafetensorsFile.h"

#include "platform/ml/ShapeText.h"
#include "platform/system/Float16.h"

#include <bit>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <yyjson.h>

namespace convert {

SafetensorsFile::SafetensorsFile(const std::filesystem::path& file) : path_(file) {
    auto fail = [&](const std::string& problem) -> std::runtime_error {
        return std::runtime_error("Invalid checkpoint file " + file.string() + ": " + problem);
    };
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("Checkpoint file not found: " + file.string());
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        ::close(fd);
        throw fail("cannot read its size");
    }
    size_ = static_cast<size_t>(info.st_size);
    if (size_ < 8) {
        ::close(fd);
        throw fail("shorter than its header");
    }
    mapping_ = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
    ::close(fd);
    if (mapping_ == MAP_FAILED) {
        mapping_ = nullptr;
        throw fail("cannot be mapped");
    }
    const auto* bytes = static_cast<const unsigned char*>(mapping_);
    uint64_t headerLength = 0;
    for (int i = 7; i >= 0; --i)
        headerLength = (headerLength << 8) | bytes[i];
    if (headerLength > size_ - 8 || headerLength > (uint64_t{100} << 20))
        throw fail("header length out of range");
    data_ = bytes + 8 + headerLength;
    const uint64_t dataSize = size_ - 8 - headerLength;

    yyjson_doc* doc = yyjson_read(reinterpret_cast<const char*>(bytes + 8), headerLength, 0);
    if (!doc) throw fail("header is not JSON");
    try {
        yyjson_val* root = yyjson_doc_get_root(doc);
        if (!yyjson_is_obj(root)) throw fail("header is not an object");
        size_t index, count;
        yyjson_val *key, *value;
        yyjson_obj_foreach(root, index, count, key, value) {
            std::string name(yyjson_get_str(key), yyjson_get_len(key));
            if (name == "__metadata__") continue;
            Tensor tensor;
            yyjson_val* dtype = yyjson_obj_get(value, "dtype");
            yyjson_val* shape = yyjson_obj_get(value, "shape");
            yyjson_val* offsets = yyjson_obj_get(value, "data_offsets");
            if (!yyjson_is_str(dtype) || !yyjson_is_arr(shape) || !yyjson_is_arr(offsets) ||
                yyjson_arr_size(offsets) != 2) {
                throw fail("tensor \"" + name + "\" has a malformed entry");
            }
            tensor.dtype = yyjson_get_str(dtype);
            size_t i, n;
            yyjson_val* item;
            uint64_t elements = 1;
            yyjson_arr_foreach(shape, i, n, item) {
                if (!yyjson_is_uint(item)) throw fail("tensor \"" + name + "\" has a bad shape");
                tensor.shape.push_back(static_cast<int64_t>(yyjson_get_uint(item)));
                elements *= yyjson_get_uint(item);
            }
            tensor.begin = yyjson_get_uint(yyjson_arr_get(offsets, 0));
            tensor.end = yyjson_get_uint(yyjson_arr_get(offsets, 1));
            uint64_t width = tensor.dtype == "F32"                               ? 4
                             : (tensor.dtype == "F16" || tensor.dtype == "BF16") ? 2
                                                                                 : 0;
            if (width == 0)
                throw fail("tensor \"" + name + "\" has the unsupported type " + tensor.dtype);
            if (tensor.end < tensor.begin || tensor.end > dataSize ||
                tensor.end - tensor.begin != elements * width) {
                throw fail("tensor \"" + name +
                           "\" lies outside the file or disagrees with its shape");
            }
            tensors_[name] = std::move(tensor);
        }
    } catch (...) {
        yyjson_doc_free(doc);
        throw;
    }
    yyjson_doc_free(doc);
}

SafetensorsFile::~SafetensorsFile() {
    if (mapping_) ::munmap(mapping_, size_);
}

std::vector<float> SafetensorsFile::floats(const std::string& name,
                                           const std::vector<int64_t>& shape) const {
    auto it = tensors_.find(name);
    if (it == tensors_.end()) {
        throw std::runtime_error("Checkpoint " + path_.string() + " lacks the tensor \"" + name +
                                 "\"");
    }
    const Tensor& tensor = it->second;
    if (tensor.shape != shape) {
        throw std::runtime_error("Checkpoint tensor \"" + name + "\" has shape " +
                                 platform::ml::shapeText(tensor.shape) + " where " +
                                 platform::ml::shapeText(shape) + " is expected");
    }
    const unsigned char* source = data_ + tensor.begin;
    size_t count = 1;
    for (int64_t d : shape)
        count *= static_cast<size_t>(d);
    std::vector<float> result(count);
    if (tensor.dtype == "F32") {
        std::memcpy(result.data(), source, count * 4);
    } else {
        for (size_t i = 0; i < count; ++i) {
            uint16_t bits = static_cast<uint16_t>(source[2 * i] | (source[2 * i + 1] << 8));
            result[i] = tensor.dtype == "F16"
                            ? platform::system::Float16::toFloat(bits)
                            : std::bit_cast<float>(static_cast<uint32_t>(bits) << 16);
        }
    }
    return result;
}

} // namespace convert
