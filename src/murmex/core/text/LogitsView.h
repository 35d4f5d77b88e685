#pragma once
// Element access to the decoder's logits, a multi-array of shape [1, 1, V]
// (or any shape whose last dimension is the vocabulary). Reads widen to float;
// suppression writes negative infinity. Ids outside 0 ..< V are ignored by
// every operation, so a bad id in a suppression list can never write outside
// the array.

#include "platform/ml/MultiArray.h"

#include <cstdint>
#include <span>
#include <vector>

namespace murmex {

class LogitsView {
public:
    /// Throws platform::ml::MultiArrayError for an array that is not float16
    /// or float32, or has no dimensions.
    explicit LogitsView(platform::ml::MultiArray& logits);

    /// V: the vocabulary size (the last dimension).
    int64_t size() const { return size_; }

    float at(int64_t token) const;

    /// Writes negative infinity at one id (ignored outside 0 ..< V).
    void suppress(int64_t token);
    /// Writes negative infinity at ids begin ..< end, clipped to 0 ..< V.
    void suppressRange(int64_t begin, int64_t end);

    /// All V scores widened to float, into `out` (resized).
    void readAll(std::vector<float>& out) const;

private:
    platform::ml::MultiArray* array_;
    char* base_ = nullptr;
    int64_t size_ = 0;
    int64_t stride_ = 1;
    bool half_ = true;
};

}  // namespace murmex
