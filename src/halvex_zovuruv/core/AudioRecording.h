#pragma once
// The microphone as the dictation controller uses it: start, then stop and
// take the recording. Called on the main thread, strictly alternately.

#include <vector>

namespace halvex {

class AudioRecording {
public:
    virtual ~AudioRecording() = default;

    /// Starts capturing the default microphone, dropping the last recording.
    /// Throws when capture cannot start; the recorder then stays usable.
    virtual void start() = 0;

    /// Stops capturing and returns the recording: 16 kHz mono samples.
    virtual std::vector<float> stop() = 0;
};

} // namespace halvex
