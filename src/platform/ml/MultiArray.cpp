#include "platform/ml/MultiArray.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

namespace platform::ml {

using platform::system::Float16;

namespace {

std::atomic<uint64_t> nextStorageIdentifier{1};

constexpr size_t kAlignment = 64;

int64_t checkedProduct(const std::vector<int64_t>& shape) {
    int64_t count = 1;
    for (int64_t dimension : shape) {
        if (dimension < 0) throw MultiArrayError("multi-array shape has a negative dimension");
        if (dimension != 0 && count > std::numeric_limits<int64_t>::max() / dimension) {
            throw MultiArrayError("multi-array shape is too large");
        }
        count *= dimension;
    }
    return count;
}

std::vector<int64_t> rowMajorStrides(const std::vector<int64_t>& shape) {
    std::vector<int64_t> strides(shape.size(), 1);
    int64_t stride = 1;
    for (size_t i = shape.size(); i-- > 0;) {
        strides[i] = stride;
        stride *= shape[i] == 0 ? 1 : shape[i];
    }
    return strides;
}

// Elements the layout spans: one past the largest offset it addresses.
int64_t spannedElements(const std::vector<int64_t>& shape, const std::vector<int64_t>& strides) {
    int64_t last = 0;
    for (size_t i = 0; i < shape.size(); ++i) {
        if (shape[i] == 0) return 0;
        if (strides[i] < 0) throw MultiArrayError("multi-array strides must not be negative");
        last += (shape[i] - 1) * strides[i];
    }
    return last + 1;
}

double readElement(const void* base, int64_t offset, ElementType type) {
    switch (type) {
    case ElementType::float16:
        return Float16::toFloat(static_cast<const uint16_t*>(base)[offset]);
    case ElementType::float32:
        return static_cast<const float*>(base)[offset];
    case ElementType::float64:
        return static_cast<const double*>(base)[offset];
    case ElementType::int32:
        return static_cast<const int32_t*>(base)[offset];
    case ElementType::int8:
        return static_cast<const int8_t*>(base)[offset];
    }
    return 0;
}

template <typename Int> Int saturate(double value) {
    if (!(value == value)) return 0; // NaN
    if (value <= static_cast<double>(std::numeric_limits<Int>::min()))
        return std::numeric_limits<Int>::min();
    if (value >= static_cast<double>(std::numeric_limits<Int>::max()))
        return std::numeric_limits<Int>::max();
    return static_cast<Int>(value);
}

void writeElement(void* base, int64_t offset, ElementType type, double value) {
    switch (type) {
    case ElementType::float16:
        static_cast<uint16_t*>(base)[offset] = Float16::fromFloat(static_cast<float>(value));
        break;
    case ElementType::float32:
        static_cast<float*>(base)[offset] = static_cast<float>(value);
        break;
    case ElementType::float64:
        static_cast<double*>(base)[offset] = value;
        break;
    case ElementType::int32:
        static_cast<int32_t*>(base)[offset] = saturate<int32_t>(value);
        break;
    case ElementType::int8:
        static_cast<int8_t*>(base)[offset] = saturate<int8_t>(value);
        break;
    }
}

} // namespace

struct MultiArray::Storage {
    std::shared_ptr<void> owner; // keeps the memory alive
    uint64_t identifier = nextStorageIdentifier.fetch_add(1, std::memory_order_relaxed);
    std::atomic<uint64_t> version{0};
};

MultiArray::MultiArray(std::vector<int64_t> shape, ElementType type)
    : MultiArray(shape, type, rowMajorStrides(shape)) {}

MultiArray::MultiArray(std::vector<int64_t> shape, ElementType type, std::vector<int64_t> strides) {
    if (elementSize(type) == 0) throw MultiArrayError("unknown multi-array element type");
    if (strides.size() != shape.size())
        throw MultiArrayError("multi-array strides and shape differ in length");
    count_ = checkedProduct(shape);
    int64_t spanned = spannedElements(shape, strides);
    size_t bytes = static_cast<size_t>(spanned) * elementSize(type);
    size_t rounded = (bytes + kAlignment - 1) / kAlignment * kAlignment;
    if (rounded == 0) rounded = kAlignment;
    void* memory = std::aligned_alloc(kAlignment, rounded);
    if (!memory) throw std::bad_alloc();
    std::memset(memory, 0, rounded);
    storage_ = std::make_shared<Storage>();
    storage_->owner = std::shared_ptr<void>(memory, [](void* p) { std::free(p); });
    base_ = memory;
    shape_ = std::move(shape);
    strides_ = std::move(strides);
    type_ = type;
}

MultiArray MultiArray::wrapping(std::shared_ptr<void> owner, void* data, std::vector<int64_t> shape,
                                ElementType type, std::vector<int64_t> strides) {
    if (elementSize(type) == 0) throw MultiArrayError("unknown multi-array element type");
    if (strides.size() != shape.size())
        throw MultiArrayError("multi-array strides and shape differ in length");
    if (!data && checkedProduct(shape) != 0) throw MultiArrayError("multi-array view of no memory");
    MultiArray array;
    array.count_ = checkedProduct(shape);
    spannedElements(shape, strides); // validates the strides
    array.storage_ = std::make_shared<Storage>();
    array.storage_->owner = std::move(owner);
    array.base_ = data;
    array.shape_ = std::move(shape);
    array.strides_ = std::move(strides);
    array.type_ = type;
    return array;
}

bool MultiArray::isContiguous() const {
    return strides_ == rowMajorStrides(shape_);
}

void MultiArray::requireValid() const {
    if (!storage_) throw MultiArrayError("empty multi-array handle");
}

void* MultiArray::rawData() {
    requireValid();
    storage_->version.fetch_add(1, std::memory_order_relaxed);
    return base_;
}

const void* MultiArray::rawData() const {
    requireValid();
    return base_;
}

int64_t MultiArray::offset(std::span<const int64_t> index) const {
    if (index.size() != shape_.size()) {
        throw MultiArrayError("index has " + std::to_string(index.size()) +
                              " positions for a multi-array of " + std::to_string(shape_.size()) +
                              " dimensions");
    }
    int64_t result = 0;
    for (size_t i = 0; i < index.size(); ++i) {
        if (index[i] < 0 || index[i] >= shape_[i])
            throw MultiArrayError("multi-array index out of range");
        result += index[i] * strides_[i];
    }
    return result;
}

int64_t MultiArray::offsetOfLinearIndex(int64_t linearIndex) const {
    if (linearIndex < 0 || linearIndex >= count_)
        throw MultiArrayError("multi-array index out of range");
    int64_t result = 0;
    for (size_t i = shape_.size(); i-- > 0;) {
        result += (linearIndex % shape_[i]) * strides_[i];
        linearIndex /= shape_[i];
    }
    return result;
}

double MultiArray::value(int64_t linearIndex) const {
    requireValid();
    return readElement(base_, offsetOfLinearIndex(linearIndex), type_);
}

void MultiArray::setValue(int64_t linearIndex, double value) {
    writeElement(rawData(), offsetOfLinearIndex(linearIndex), type_, value);
}

double MultiArray::valueAt(std::span<const int64_t> index) const {
    requireValid();
    return readElement(base_, offset(index), type_);
}

void MultiArray::setValueAt(std::span<const int64_t> index, double value) {
    writeElement(rawData(), offset(index), type_, value);
}

void MultiArray::fill(double value) {
    void* base = rawData();
    if (isContiguous()) {
        switch (type_) {
        case ElementType::float16: {
            uint16_t bits = Float16::fromFloat(static_cast<float>(value));
            std::fill_n(static_cast<uint16_t*>(base), count_, bits);
            return;
        }
        case ElementType::float32:
            std::fill_n(static_cast<float*>(base), count_, static_cast<float>(value));
            return;
        case ElementType::float64:
            std::fill_n(static_cast<double*>(base), count_, value);
            return;
        case ElementType::int32:
            std::fill_n(static_cast<int32_t*>(base), count_, saturate<int32_t>(value));
            return;
        case ElementType::int8:
            std::fill_n(static_cast<int8_t*>(base), count_, saturate<int8_t>(value));
            return;
        }
    }
    for (int64_t i = 0; i < count_; ++i)
        writeElement(base, offsetOfLinearIndex(i), type_, value);
}

std::vector<float> MultiArray::toFloatVector() const {
    requireValid();
    std::vector<float> result(static_cast<size_t>(count_));
    if (isContiguous() && type_ == ElementType::float32) {
        std::memcpy(result.data(), base_, result.size() * sizeof(float));
    } else if (isContiguous() && type_ == ElementType::float16) {
        auto* bits = static_cast<const uint16_t*>(base_);
        for (int64_t i = 0; i < count_; ++i)
            result[static_cast<size_t>(i)] = Float16::toFloat(bits[i]);
    } else {
        for (int64_t i = 0; i < count_; ++i) {
            result[static_cast<size_t>(i)] =
                static_cast<float>(readElement(base_, offsetOfLinearIndex(i), type_));
        }
    }
    return result;
}

MultiArray MultiArray::copy() const {
    requireValid();
    MultiArray result(shape_, type_);
    if (isContiguous()) {
        std::memcpy(result.base_, base_, static_cast<size_t>(count_) * elementSize(type_));
    } else {
        size_t size = elementSize(type_);
        auto* destination = static_cast<char*>(result.base_);
        auto* source = static_cast<const char*>(base_);
        for (int64_t i = 0; i < count_; ++i) {
            std::memcpy(destination + i * size, source + offsetOfLinearIndex(i) * size, size);
        }
    }
    return result;
}

MultiArray MultiArray::converted(ElementType type) const {
    if (type == type_) return copy();
    requireValid();
    MultiArray result(shape_, type);
    for (int64_t i = 0; i < count_; ++i) {
        writeElement(result.base_, i, type, readElement(base_, offsetOfLinearIndex(i), type_));
    }
    return result;
}

uint64_t MultiArray::storageIdentifier() const {
    return storage_ ? storage_->identifier : 0;
}

uint64_t MultiArray::version() const {
    return storage_ ? storage_->version.load(std::memory_order_relaxed) : 0;
}

void MultiArray::markModified() {
    if (storage_) storage_->version.fetch_add(1, std::memory_order_relaxed);
}

} // namespace platform::ml
