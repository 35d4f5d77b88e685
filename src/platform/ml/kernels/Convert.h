#pragma once
// Bulk conversion between half and single precision (exact, round to nearest even).

#include <cstddef>
#include <cstdint>

namespace platform::ml::kernels {

void halfToFloat(const uint16_t* source, float* destination, size_t count);
void floatToHalf(const float* source, uint16_t* destination, size_t count);

} // namespace platform::ml::kernels
