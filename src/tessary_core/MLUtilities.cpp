#include "tessary_core/MLUtilities.h"

#include "tessary_core/MLMultiArrayCreationError.h"

#include <limits>
#include <stdexcept>
#include <string>

namespace tessary {

using platform::ml::ElementType;
using platform::ml::MultiArray;
using platform::system::Float16;

namespace {

template <typename T> bool fillIfExactly(MultiArray& array, const std::any& value) {
    const T* typed = std::any_cast<T>(&value);
    if (!typed) return false;
    T* data = array.data<T>();
    std::fill(data, data + array.count(), *typed);
    return true;
}

} // namespace

MultiArray makeMultiArray(const std::vector<int64_t>& shape, ElementType dataType,
                          const std::any& initialValue) {
    if (dataType == ElementType::float16 && shape.empty()) throw MLMultiArrayCreationError();
    MultiArray array(shape, dataType);
    if (!initialValue.has_value()) return array;
    switch (dataType) {
    case ElementType::float16:
        fillIfExactly<Float16>(array, initialValue);
        break;
    case ElementType::float32:
        fillIfExactly<float>(array, initialValue);
        break;
    case ElementType::float64:
        fillIfExactly<double>(array, initialValue);
        break;
    case ElementType::int32:
        fillIfExactly<int32_t>(array, initialValue);
        break;
    case ElementType::int8:
        fillIfExactly<int8_t>(array, initialValue);
        break;
    }
    return array;
}

MultiArray multiArrayFromInts(const std::vector<int>& values, int dims) {
    if (dims < 1) throw std::invalid_argument("multiArrayFromInts needs at least one dimension");
    std::vector<int64_t> shape(static_cast<size_t>(dims), 1);
    shape.back() = static_cast<int64_t>(values.size());
    MultiArray array(shape, ElementType::int32);
    int32_t* data = array.data<int32_t>();
    for (size_t i = 0; i < values.size(); ++i)
        data[i] = static_cast<int32_t>(values[i]);
    return array;
}

int64_t linearOffset(const MultiArray& array, std::span<const int64_t> index,
                     const std::optional<std::vector<int64_t>>& strides) {
    const std::vector<int64_t>& used = strides ? *strides : array.strides();
    int64_t offset = 0;
    for (size_t i = 0; i < index.size() && i < used.size(); ++i)
        offset += index[i] * used[i];
    return offset;
}

void fillLastDimension(MultiArray& array, int64_t begin, int64_t end, Float16 value) {
    const auto& shape = array.shape();
    if (shape.size() != 3 || shape[0] != 1 || shape[1] != 1) {
        throw std::invalid_argument("fillLastDimension needs a [1, 1, N] array");
    }
    if (begin < 0 || end < begin || end > shape[2]) {
        throw std::invalid_argument("fillLastDimension range lies outside the last dimension");
    }
    if (begin == end) return;
    uint16_t* data = array.data<uint16_t>();
    const int64_t stride = array.strides()[2];
    for (int64_t i = begin; i < end; ++i)
        data[i * stride] = value.bits();
}

std::vector<int64_t> detail::checkedFillOffsets(const MultiArray& array,
                                                const std::vector<std::vector<int64_t>>& indexes) {
    std::vector<int64_t> offsets;
    offsets.reserve(indexes.size());
    for (const auto& index : indexes)
        offsets.push_back(array.offset(index)); // range-checked per dimension
    return offsets;
}

std::shared_ptr<platform::ml::FeatureProvider>
asyncPrediction(const platform::ml::Model& model, const platform::ml::FeatureProvider& input,
                const platform::ml::PredictionOptions& options) {
    return model.prediction(input, options);
}

std::string_view description(platform::ml::ComputeUnits units) {
    switch (units) {
    case platform::ml::ComputeUnits::cpuOnly:
        return "cpuOnly";
    case platform::ml::ComputeUnits::cpuAndGPU:
        return "cpuAndGPU";
    case platform::ml::ComputeUnits::all:
        return "all";
    case platform::ml::ComputeUnits::cpuAndNeuralEngine:
        return "cpuAndNeuralEngine";
    }
    return "unknown";
}

std::string_view displayName(platform::ml::ComputeUnits units) {
    switch (units) {
    case platform::ml::ComputeUnits::cpuOnly:
        return "CPU";
    case platform::ml::ComputeUnits::cpuAndGPU:
        return "GPU";
    case platform::ml::ComputeUnits::all:
        return "All";
    case platform::ml::ComputeUnits::cpuAndNeuralEngine:
        return "Neural Engine";
    }
    return "Unknown";
}

} // namespace tessary
