#pragma once
// Element access to the decoder's logits, a multi-array of shape [1, 1, V]
// (or any shape whose last dimension is the vocabulary). Reads widen to float;
// suppression writes negative infinity. Ids outside 0 ..< V are ignored by
// every operation, so a bad id in a suppression list can never write outside
// the array.

#include "murmex/core/text/LogitsMath.h"
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
    /// Writes negative infinity at every listed id (ignoring those outside
    /// 0 ..< V), marking the array changed once.
    void suppressEach(std::span<const int> tokens);

    /// The V scores in place when they lie next to each other (stride 1),
    /// else an empty row.
    logits_math::Row contiguousRow() const;
    /// The V scores as a row: in place when contiguous, otherwise widened
    /// into `buffer`, which must outlive the row.
    logits_math::Row row(std::vector<float>& buffer) const;

    /// All V scores widened to float, into `out` (resized).
    void readAll(std::vector<float>& out) const;

private:
    platform::ml::MultiArray* array_;
    char* base_ = nullptr;
    int64_t size_ = 0;
    int64_t stride_ = 1;
    bool half_ = true;
};

} // namespace murmex
