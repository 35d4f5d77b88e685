#pragma once
// Small operations on the runtime's multi-arrays and models that the engine's
// stages share: a factory that can start an array filled, int32 arrays from
// token lists, element writes addressed by index vectors and strides, the
// awaited prediction call, and names of compute-unit choices.

#include "platform/ml/ComputeUnits.h"
#include "platform/ml/Model.h"
#include "platform/ml/MultiArray.h"
#include "platform/system/Float16.h"

#include <any>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <type_traits>
#include <vector>

namespace tessary {

/// A new array of the shape and element type. When `initialValue` holds a
/// value of exactly the element's C++ type (Float16, float, double, int32_t,
/// int8_t) every element starts as that value; any other initial value
/// (including a double for a float16 array) leaves the array zeroed.
/// A float16 array needs at least one dimension: an empty shape throws
/// MLMultiArrayCreationError.
platform::ml::MultiArray makeMultiArray(const std::vector<int64_t>& shape,
                                        platform::ml::ElementType dataType,
                                        const std::any& initialValue = {});

/// An int32 array of shape [1, …, 1, values.size()] with `dims` dimensions
/// (at least 1) holding the values in order. Values must fit in 32 bits.
platform::ml::MultiArray multiArrayFromInts(const std::vector<int>& values, int dims);

/// Σ index[i] · stride[i] over the shorter of the two lists; the array's own
/// strides when none are given.
int64_t linearOffset(const platform::ml::MultiArray& array, std::span<const int64_t> index,
                     const std::optional<std::vector<int64_t>>& strides = std::nullopt);

/// Writes `value` at positions begin..<end of the last dimension of a
/// [1, 1, N] float16 array. Throws std::invalid_argument for another shape,
/// element type or a range outside 0..N.
void fillLastDimension(platform::ml::MultiArray& array, int64_t begin, int64_t end,
                       platform::system::Float16 value);

/// Writes `value` at every index vector's offset (computed from the array's
/// strides). T must be the array's element type, and every offset must lie
/// inside the array; otherwise std::invalid_argument is thrown before anything
/// is written.
template <typename T>
void fill(platform::ml::MultiArray& array, const std::vector<std::vector<int64_t>>& indexes,
          T value);

/// Runs a prediction (blocking; call it from a worker thread).
std::shared_ptr<platform::ml::FeatureProvider>
asyncPrediction(const platform::ml::Model& model, const platform::ml::FeatureProvider& input,
                const platform::ml::PredictionOptions& options = {});

/// "cpuOnly", "cpuAndGPU", "all", "cpuAndNeuralEngine", else "unknown".
std::string_view description(platform::ml::ComputeUnits units);
/// "CPU", "GPU", "All", "Neural Engine", else "Unknown".
std::string_view displayName(platform::ml::ComputeUnits units);

namespace detail {
/// Checks the index vectors of fill() and returns their element offsets.
std::vector<int64_t> checkedFillOffsets(const platform::ml::MultiArray& array,
                                        const std::vector<std::vector<int64_t>>& indexes);
} // namespace detail

template <typename T>
void fill(platform::ml::MultiArray& array, const std::vector<std::vector<int64_t>>& indexes,
          T value) {
    std::vector<int64_t> offsets = detail::checkedFillOffsets(array, indexes);
    T* data = array.data<T>(); // throws when T is not the element type
    for (int64_t offset : offsets)
        data[offset] = value;
}

} // namespace tessary
