#include "platform/ml/kernels/CpuFeatures.h"

#include <algorithm>
#include <atomic>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace platform::ml::kernels {

namespace {

VectorLevel detectedLevel() {
#if defined(__x86_64__) || defined(__i386__)
    // F16C is read from CPUID leaf 1 (ECX bit 29): not every compiler's
    // __builtin_cpu_supports knows its name. The built-in checks also ask the
    // operating system whether it saves the wide registers.
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return VectorLevel::scalar;
    const bool f16c = (ecx & (1u << 29)) != 0;
    if (!f16c || !__builtin_cpu_supports("avx2") || !__builtin_cpu_supports("fma"))
        return VectorLevel::scalar;
    if (__builtin_cpu_supports("avx512f")) return VectorLevel::avx512;
    return VectorLevel::avx2;
#else
    return VectorLevel::scalar;
#endif
}

std::atomic<VectorLevel> cap{VectorLevel::avx512};

} // namespace

VectorLevel vectorLevel() {
    static const VectorLevel detected = detectedLevel();
    return std::min(detected, cap.load(std::memory_order_relaxed));
}

void limitVectorLevel(VectorLevel level) {
    cap.store(level);
}

bool hasAvx2Fma() {
    return vectorLevel() >= VectorLevel::avx2;
}

} // namespace platform::ml::kernels
