#pragma once
// A read-only view of a safetensors file: an 8-byte little-endian header
// length, a JSON table of tensors (element type, shape, byte range) and the
// tensor bytes, mapped into memory.

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace convert {

class SafetensorsFile {
public:
    struct Tensor {
        std::string dtype; // "F32", "F16" or "BF16"
        std::vector<int64_t> shape;
        uint64_t begin = 0; // byte range inside the data section
        uint64_t end = 0;
    };

    /// Maps the file and reads its table; throws std::runtime_error naming the
    /// file when it is missing, truncated or malformed.
    explicit SafetensorsFile(const std::filesystem::path& file);
    ~SafetensorsFile();
    SafetensorsFile(const SafetensorsFile&) = delete;
    SafetensorsFile& operator=(const SafetensorsFile&) = delete;

    const std::map<std::string, Tensor>& tensors() const { return tensors_; }
    bool contains(const std::string& name) const { return tensors_.count(name) != 0; }

    /// The tensor's elements as floats, checked against `shape`.
    std::vector<float> floats(const std::string& name, const std::vector<int64_t>& shape) const;

private:
    std::filesystem::path path_;
    std::map<std::string, Tensor> tensors_;
    const unsigned char* data_ = nullptr; // start of the data section
    void* mapping_ = nullptr;
    size_t size_ = 0;
};

} // namespace convert
