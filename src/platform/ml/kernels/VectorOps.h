#pragma once
// Dot products and scaled additions over float vectors and over half vectors
// (the caller's key-value cache), the inner loops of one-token attention.

#include <cstddef>
#include <cstdint>

namespace platform::ml::kernels {

float dot(const float* a, const float* b, size_t n);
/// y += a · x
void axpy(float a, const float* x, float* y, size_t n);
/// Σ a[i] · half(b[i])
float dotHalf(const float* a, const uint16_t* b, size_t n);
/// dotHalf for this processor, chosen once by loops that call it many times.
using DotHalfFunction = float (*)(const float* a, const uint16_t* b, size_t n);
DotHalfFunction dotHalfKernel();
/// y += a · half(x)
void axpyHalf(float a, const uint16_t* x, float* y, size_t n);

} // namespace platform::ml::kernels
