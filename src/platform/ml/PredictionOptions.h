#pragma once
// Per-prediction settings. The defaults are what every caller in the engine uses.

namespace platform::ml {

struct PredictionOptions {
    /// When false, the model may not keep derived values (such as a decoder's
    /// cross-attention keys for an encoder output) between predictions.
    bool allowCaching = true;
};

} // namespace platform::ml
