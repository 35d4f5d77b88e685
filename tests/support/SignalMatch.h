#pragma once
// How well a captured signal matches the one that was played into the
// microphone: the normalised correlation at the delay that fits best.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace zvtest {

/// The normalised correlation of `captured` with `fed`, `captured` delayed by
/// the lag (up to `maxLag` samples) that fits best; the lag is searched on the
/// first `searchLength` samples, the figure taken over the whole overlap.
/// -1 when the two do not overlap by half of `fed`.
inline double alignedCorrelation(const std::vector<float>& captured, const std::vector<float>& fed,
                                 size_t maxLag = 24000, size_t searchLength = 16000) {
    auto correlation = [&](size_t lag, size_t length) {
        const size_t n = std::min({fed.size(), captured.size() - lag, length});
        double xy = 0, xx = 0, yy = 0;
        for (size_t i = 0; i < n; ++i) {
            xy += double(captured[lag + i]) * fed[i];
            xx += double(captured[lag + i]) * captured[lag + i];
            yy += double(fed[i]) * fed[i];
        }
        return xx > 0 && yy > 0 ? xy / std::sqrt(xx * yy) : -1.0;
    };
    double best = -1;
    size_t bestLag = 0;
    for (size_t lag = 0; lag <= maxLag && lag + fed.size() / 2 <= captured.size(); ++lag) {
        const double value = correlation(lag, searchLength);
        if (value > best) best = value, bestLag = lag;
    }
    if (best < -0.5) return -1;
    return correlation(bestLag, fed.size());
}

} // namespace zvtest
