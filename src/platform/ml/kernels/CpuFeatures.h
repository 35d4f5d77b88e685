#pragma once
// Which vector kernels may run on this processor. Every kernel has a plain
// fallback; the vector paths need AVX2, FMA and F16C, the widest ones AVX-512.

namespace platform::ml::kernels {

enum class VectorLevel { scalar, avx2, avx512 };

/// The widest level the processor and the operating system support, lowered
/// by limitVectorLevel().
VectorLevel vectorLevel();

/// Caps the level for the whole process (tests run every path on one machine).
void limitVectorLevel(VectorLevel cap);

/// vectorLevel() is at least avx2: AVX2, FMA and F16C may run.
bool hasAvx2Fma();

} // namespace platform::ml::kernels
