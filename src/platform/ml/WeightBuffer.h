#pragma once
// The elements of one weight tensor: in place in the weight file's read-only
// mapping, or in memory of their own when they had to be converted to the
// precision the network computes in. Copies share the elements, and every
// copy keeps the mapping alive, so layers hold weights without caring where
// they live.

#include <cstddef>
#include <memory>
#include <vector>

namespace platform::ml {

template <typename T> class WeightBuffer {
public:
    WeightBuffer() = default;
    /// Elements owned by `owner` (such as a file mapping).
    WeightBuffer(std::shared_ptr<const void> owner, const T* data, size_t size)
        : owner_(std::move(owner)), data_(data), size_(size) {}
    /// Elements of their own.
    WeightBuffer(std::vector<T> values) { // NOLINT: a vector converts like a plain buffer
        auto held = std::make_shared<const std::vector<T>>(std::move(values));
        data_ = held->data();
        size_ = held->size();
        owner_ = std::move(held);
    }

    const T* data() const { return data_; }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const T& operator[](size_t index) const { return data_[index]; }
    const T* begin() const { return data_; }
    const T* end() const { return data_ + size_; }

private:
    std::shared_ptr<const void> owner_;
    const T* data_ = nullptr;
    size_t size_ = 0;
};

} // namespace platform::ml
