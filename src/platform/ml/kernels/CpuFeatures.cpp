#include "platform/ml/kernels/CpuFeatures.h"

namespace platform::ml::kernels {

bool hasAvx2Fma() {
#if defined(__x86_64__) || defined(__i386__)
    static const bool supported = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") &&
                                  __builtin_cpu_supports("f16c");
    return supported;
#else
    return false;
#endif
}

}  // namespace platform::ml::kernels
