#pragma once
// A shaped, strided array of numbers: the value that flows into and out of
// models. A MultiArray is a handle: copies share the same elements, so a
// model input or a cache can be written in place by whoever holds it.
// Storage is 64-byte aligned; float16 elements are real 16-bit halves.

#include "platform/ml/ElementType.h"
#include "platform/system/Float16.h"

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>
#include <stdexcept>
#include <vector>

namespace platform::ml {

/// Thrown for a shape, index or element type a multi-array cannot serve.
class MultiArrayError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

class MultiArray {
public:
    /// An empty handle: no shape, no elements. isValid() is false.
    MultiArray() = default;

    /// A new zero-filled, contiguous (row-major) array.
    MultiArray(std::vector<int64_t> shape, ElementType type);

    /// A new zero-filled array laid out with the given element strides (which
    /// may leave gaps or order the dimensions differently than row-major).
    MultiArray(std::vector<int64_t> shape, ElementType type, std::vector<int64_t> strides);

    /// A view of memory owned by `owner`, which stays alive as long as any
    /// handle to the view does. `data` must be aligned for the element type
    /// and cover every element the shape and strides address.
    static MultiArray wrapping(std::shared_ptr<void> owner, void* data, std::vector<int64_t> shape,
                               ElementType type, std::vector<int64_t> strides);

    bool isValid() const { return storage_ != nullptr; }
    const std::vector<int64_t>& shape() const { return shape_; }
    /// Element strides, one per dimension.
    const std::vector<int64_t>& strides() const { return strides_; }
    ElementType dataType() const { return type_; }
    /// Number of elements: the product of the shape.
    int64_t count() const { return count_; }
    bool isContiguous() const;

    /// The first element's address. Mutable access marks the contents changed
    /// (see version()); const access does not.
    void* rawData();
    const void* rawData() const;

    /// Typed access to the elements; T must match the element type
    /// (Float16, float, double, int32_t, int8_t). Throws MultiArrayError otherwise.
    template <typename T> T* data() {
        checkType<T>();
        return static_cast<T*>(rawData());
    }
    template <typename T> const T* data() const {
        checkType<T>();
        return static_cast<const T*>(rawData());
    }

    /// Element offset (in elements from rawData()) of a full index vector.
    int64_t offset(std::span<const int64_t> index) const;
    /// Element offset of the element at `linearIndex` in row-major order of the shape.
    int64_t offsetOfLinearIndex(int64_t linearIndex) const;

    /// Reads and writes one element, converting from and to double. The linear
    /// forms walk the shape in row-major order whatever the strides.
    double value(int64_t linearIndex) const;
    void setValue(int64_t linearIndex, double value);
    double valueAt(std::span<const int64_t> index) const;
    void setValueAt(std::span<const int64_t> index, double value);
    double valueAt(std::initializer_list<int64_t> index) const {
        return valueAt(std::span<const int64_t>(index.begin(), index.size()));
    }
    void setValueAt(std::initializer_list<int64_t> index, double value) {
        setValueAt(std::span<const int64_t>(index.begin(), index.size()), value);
    }

    /// Writes `value` (converted to the element type) into every element.
    void fill(double value);

    /// All elements in row-major order, widened to float.
    std::vector<float> toFloatVector() const;

    /// A new contiguous array with the same shape, type and elements.
    MultiArray copy() const;

    /// A contiguous array of the same shape converted to another element type.
    MultiArray converted(ElementType type) const;

    /// Identity of the underlying storage: unique for the life of the
    /// process (never reused), shared by every handle to the same elements.
    uint64_t storageIdentifier() const;
    /// Counts mutable accesses to the storage; unchanged means untouched.
    uint64_t version() const;
    /// Marks the contents changed after writing through a pointer that was
    /// obtained earlier.
    void markModified();

    /// True when this handle is the only one referring to its elements.
    bool isUniquelyReferenced() const { return storage_ && storage_.use_count() == 1; }

    /// True when both handles refer to the same elements with the same layout.
    bool sharesStorageWith(const MultiArray& other) const {
        return storage_ && storage_ == other.storage_;
    }

private:
    struct Storage;
    template <typename T> void checkType() const;
    void requireValid() const;

    std::shared_ptr<Storage> storage_;
    void* base_ = nullptr; // first element; inside storage_
    std::vector<int64_t> shape_;
    std::vector<int64_t> strides_;
    ElementType type_ = ElementType::float32;
    int64_t count_ = 0;
};

template <typename T> void MultiArray::checkType() const {
    ElementType expected;
    if constexpr (std::is_same_v<T, platform::system::Float16>) {
        expected = ElementType::float16;
    } else if constexpr (std::is_same_v<T, uint16_t>) {
        expected = ElementType::float16; // raw half bit patterns
    } else if constexpr (std::is_same_v<T, float>) {
        expected = ElementType::float32;
    } else if constexpr (std::is_same_v<T, double>) {
        expected = ElementType::float64;
    } else if constexpr (std::is_same_v<T, int32_t>) {
        expected = ElementType::int32;
    } else if constexpr (std::is_same_v<T, int8_t>) {
        expected = ElementType::int8;
    } else {
        static_assert(sizeof(T) == 0, "not an element type of MultiArray");
    }
    requireValid();
    if (expected != type_) throw MultiArrayError("multi-array element type mismatch");
}

} // namespace platform::ml
