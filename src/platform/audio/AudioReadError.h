#pragma once
// Why an audio file could not be read as samples. `what()` is a description
// that names the failing step and carries the reason underneath it.

#include <stdexcept>
#include <string>

namespace platform::audio {

class AudioReadError : public std::runtime_error {
public:
    enum class Kind {
        invalidRange,     // a time range that is not finite, negative or reversed
        tooLong,          // more frames than a 32-bit frame count holds
        readFailed,       // the file could not be read or decoded
        conversionFailed, // the rate converter could not be set up or failed
        outOfMemory,      // a buffer could not be had
    };
    AudioReadError(Kind kind, const std::string& message)
        : std::runtime_error(message), kind_(kind) {}
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

} // namespace platform::audio
