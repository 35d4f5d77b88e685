#include "platform/ml/kernels/CpuFeatures.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace platform::ml::kernels {

bool hasAvx2Fma() {
#if defined(__x86_64__) || defined(__i386__)
    // F16C is read from CPUID leaf 1 (ECX bit 29): not every compiler's
    // __builtin_cpu_supports knows its name.
    static const bool supported = [] {
        unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
        if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
        const bool f16c = (ecx & (1u << 29)) != 0;
        return f16c && __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    }();
    return supported;
#else
    return false;
#endif
}

} // namespace platform::ml::kernels
