#pragma once
// Whether the vector kernels (AVX2, FMA, F16C) may run on this processor.

namespace platform::ml::kernels {

bool hasAvx2Fma();

} // namespace platform::ml::kernels
