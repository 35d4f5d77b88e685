#pragma once
// The speech engine as the dictation controller uses it. Both operations
// block and run off the main thread.

#include <string>
#include <vector>

namespace halvex {

class SpeechTranscribing {
public:
    virtual ~SpeechTranscribing() = default;

    /// The cleaned text of 16 kHz mono samples (empty when nothing was
    /// understood). Throws when the engine cannot be loaded or fails.
    virtual std::string transcribe(const std::vector<float>& samples) = 0;

    /// Loads the engine (downloading the model first when it is missing), so
    /// the first dictation does not wait for it. Throws when that fails; the
    /// next call tries again.
    virtual void loadModel() = 0;
};

} // namespace halvex
