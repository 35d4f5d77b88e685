#pragma once
// Continuous sample-rate and channel-count conversion of planar float audio.
//
// A converter is a stream: every source frame is handed to it exactly once,
// and its filter state carries over from one call to the next, so audio
// converted piece by piece is the same as audio converted in one go, with no
// seam at the piece boundaries. Output that does not fit the space given in
// one call stays inside the converter and comes out first in the next call.
// The last few output frames (the filter's look-ahead) come out only when the
// stream is finished with flush().
//
// Output frame k stands for the instant k / outputRate, the same instant as
// input frame k * inputRate / outputRate: conversion adds no delay.

#include "platform/audio/AudioFormat.h"
#include "platform/audio/PcmBuffer.h"

#include <cstdint>
#include <memory>
#include <string>

namespace platform::audio {

class AudioConverter {
public:
    /// A converter from `input` to `output`, or nothing when the conversion
    /// cannot be set up. Channels are matched by index when the counts agree;
    /// a one-channel output takes the average of all input channels.
    static std::unique_ptr<AudioConverter> make(const AudioFormat& input,
                                                const AudioFormat& output);
    ~AudioConverter();
    AudioConverter(const AudioConverter&) = delete;
    AudioConverter& operator=(const AudioConverter&) = delete;

    const AudioFormat& inputFormat() const { return input_; }
    const AudioFormat& outputFormat() const { return output_; }

    /// Takes `frames` frames (one plane per input channel) and writes up to
    /// `capacity` converted frames into the output planes; returns how many.
    /// Returns a negative error code (see errorText) when conversion fails.
    int64_t convert(const float* const* input, uint32_t frames, float* const* output,
                    uint32_t capacity);

    /// Ends the stream: writes up to `capacity` of the frames still held.
    /// When they all fit, the converter then starts a new stream; otherwise
    /// the next flush gives the rest.
    int64_t flush(float* const* output, uint32_t capacity);

    /// Frames held inside that a flush would still give, at most.
    int64_t pendingOutputFrames() const;

    /// Converts all frames of `source` into `destination` behind its current
    /// frame length, up to its capacity; with `endOfStream` also flushes.
    /// Returns the frames written or a negative error code.
    int64_t convert(const PcmBuffer& source, PcmBuffer& destination, bool endOfStream);

    /// The description of an error code returned above.
    static std::string errorText(int64_t code);

private:
    AudioConverter(const AudioFormat& input, const AudioFormat& output);
    bool setUp();

    AudioFormat input_;
    AudioFormat output_;
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace platform::audio
