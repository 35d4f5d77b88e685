#pragma once
// Whisper's mel filter bank: triangular filters on the Slaney mel scale
// (linear below 1 kHz, logarithmic above), area-normalised, over the 201
// bins of a 400-point transform at 16 kHz, from 0 Hz to 8 kHz.

#include <cstdint>
#include <vector>

namespace modelgen {

/// [nMels, 201] row-major.
std::vector<float> melFilterBank(int64_t nMels);

} // namespace modelgen
