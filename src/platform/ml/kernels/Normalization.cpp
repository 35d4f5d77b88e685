#include "platform/ml/kernels/Normalization.h"

#include <cmath>

namespace platform::ml::kernels {

void layerNorm(const float* x, float* y, size_t rows, size_t columns, const float* gamma,
               const float* beta, float epsilon) {
    for (size_t r = 0; r < rows; ++r) {
        const float* in = x + r * columns;
        float* out = y + r * columns;
        // Two passes in float with a double total: stable for the ranges
        // activations reach and easily vectorised.
        double sum = 0;
        for (size_t i = 0; i < columns; ++i)
            sum += in[i];
        float mean = static_cast<float>(sum / static_cast<double>(columns));
        double squares = 0;
        for (size_t i = 0; i < columns; ++i) {
            float d = in[i] - mean;
            squares += static_cast<double>(d) * d;
        }
        float inverse =
            1.0f / std::sqrt(static_cast<float>(squares / static_cast<double>(columns)) + epsilon);
        for (size_t i = 0; i < columns; ++i)
            out[i] = (in[i] - mean) * inverse * gamma[i] + beta[i];
    }
}

} // namespace platform::ml::kernels
