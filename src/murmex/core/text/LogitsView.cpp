#include "murmex/core/text/LogitsView.h"

#include "platform/ml/kernels/Convert.h"
#include "platform/system/Float16.h"

#include <algorithm>
#include <limits>

namespace murmex {

using platform::ml::ElementType;
using platform::ml::MultiArrayError;
using platform::system::Float16;

LogitsView::LogitsView(platform::ml::MultiArray& logits) : array_(&logits) {
    if (!logits.isValid() || logits.shape().empty())
        throw MultiArrayError("logits array has no dimensions");
    if (logits.dataType() != ElementType::float16 && logits.dataType() != ElementType::float32) {
        throw MultiArrayError("logits must be float16 or float32");
    }
    half_ = logits.dataType() == ElementType::float16;
    size_ = logits.shape().back();
    stride_ = logits.strides().back();
    // Leading dimensions are 1 in every decoder output; the vocabulary row is
    // the first one.
    base_ = static_cast<char*>(
        const_cast<void*>(static_cast<const platform::ml::MultiArray&>(logits).rawData()));
}

float LogitsView::at(int64_t token) const {
    if (token < 0 || token >= size_) return -std::numeric_limits<float>::infinity();
    int64_t offset = token * stride_;
    if (half_) return Float16::toFloat(reinterpret_cast<const uint16_t*>(base_)[offset]);
    return reinterpret_cast<const float*>(base_)[offset];
}

void LogitsView::suppress(int64_t token) {
    suppressRange(token, token + 1);
}

void LogitsView::suppressRange(int64_t begin, int64_t end) {
    begin = std::max<int64_t>(begin, 0);
    end = std::min(end, size_);
    if (begin >= end) return;
    array_->markModified();
    if (half_) {
        auto* p = reinterpret_cast<uint16_t*>(base_);
        for (int64_t t = begin; t < end; ++t)
            p[t * stride_] = platform::system::kFloat16NegativeInfinityBits;
    } else {
        auto* p = reinterpret_cast<float*>(base_);
        for (int64_t t = begin; t < end; ++t)
            p[t * stride_] = -std::numeric_limits<float>::infinity();
    }
}

void LogitsView::suppressEach(std::span<const int> tokens) {
    bool written = false;
    for (int token : tokens) {
        if (token < 0 || token >= size_) continue;
        written = true;
        const int64_t offset = token * stride_;
        if (half_) {
            reinterpret_cast<uint16_t*>(base_)[offset] =
                platform::system::kFloat16NegativeInfinityBits;
        } else {
            reinterpret_cast<float*>(base_)[offset] = -std::numeric_limits<float>::infinity();
        }
    }
    if (written) array_->markModified();
}

logits_math::Row LogitsView::contiguousRow() const {
    if (stride_ != 1 && size_ > 1) return {};
    const auto size = static_cast<size_t>(size_);
    if (half_) return {reinterpret_cast<const uint16_t*>(base_), nullptr, size};
    return {nullptr, reinterpret_cast<const float*>(base_), size};
}

logits_math::Row LogitsView::row(std::vector<float>& buffer) const {
    logits_math::Row direct = contiguousRow();
    if (direct.half || direct.single) return direct;
    readAll(buffer);
    return {nullptr, buffer.data(), buffer.size()};
}

void LogitsView::readAll(std::vector<float>& out) const {
    out.resize(static_cast<size_t>(size_));
    if (half_) {
        const auto* p = reinterpret_cast<const uint16_t*>(base_);
        if (stride_ == 1) {
            platform::ml::kernels::halfToFloat(p, out.data(), out.size());
            return;
        }
        for (int64_t t = 0; t < size_; ++t)
            out[static_cast<size_t>(t)] = Float16::toFloat(p[t * stride_]);
    } else {
        const auto* p = reinterpret_cast<const float*>(base_);
        for (int64_t t = 0; t < size_; ++t)
            out[static_cast<size_t>(t)] = p[t * stride_];
    }
}

} // namespace murmex
