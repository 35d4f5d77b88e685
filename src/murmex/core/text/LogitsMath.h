#pragma once
// Whole-vocabulary reductions over one row of logits, done once per decoding
// step: the maximum, the first id holding it, and the sum of exponentials
// below it. Rows are contiguous halves (as the decoder returns them) or
// floats. Not-a-number scores are skipped by every reduction, as if
// suppressed. On processors with AVX2, FMA and F16C the loops run eight
// lanes wide and convert halves on the fly, so no float copy of the row is
// needed.

#include <cstddef>
#include <cstdint>

namespace murmex::logits_math {

/// A contiguous row: exactly one of `half` (binary16 bit patterns) and
/// `single` is set.
struct Row {
    const uint16_t* half = nullptr;
    const float* single = nullptr;
    size_t size = 0;

    Row slice(size_t begin, size_t end) const {
        return half ? Row{half + begin, nullptr, end - begin}
                    : Row{nullptr, single + begin, end - begin};
    }
};

/// The largest score; negative infinity for an empty row or one without a
/// number.
float maximum(Row row);

/// The first id whose score equals `value`; row.size when there is none.
size_t firstIndexOf(Row row, float value);

/// The first id at or after `from` whose score is above `value`; row.size
/// when there is none.
size_t firstIndexAbove(Row row, size_t from, float value);

/// The sum over the row of exp(score - maximum), in double precision. Each
/// difference is taken in float, as the scores are. Terms below e^-87 (and
/// suppressed scores) add nothing.
double sumOfExponentials(Row row, float maximum);

} // namespace murmex::logits_math
