#pragma once
// Live capture from an input device as mono samples at one chosen rate
// (16 kHz unless told otherwise).
//
// The backend's audio thread does nothing but copy each captured buffer into
// a queue of buffers reserved at the start. A converter thread of the capture
// takes them in order, turns them into mono at the target rate with one
// converter that runs for the whole capture (so buffers join without seams)
// and hands each converted buffer to the sample handler. A device that already
// delivers the target format is passed through untouched.
//
// Stopping waits for every buffer captured so far, converts it, delivers the
// converter's last samples and only then returns: after stop() the handler
// has seen the whole recording and is never called again. When the consumer
// falls so far behind that the queue is full, newer buffers are dropped and
// counted rather than blocking the audio thread.
//
// Use: the speech engine's live capture and the application's recorder.
//     AudioCapture capture(*CaptureBackend::system(), {}, [&](std::span<const float> s) {
//         samples.insert(samples.end(), s.begin(), s.end()); });
//     ...
//     capture.stop();

#include "platform/audio/AudioFormat.h"
#include "platform/audio/CaptureBackend.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>

namespace platform::audio {

class AudioCapture {
public:
    /// Called on the capture's converter thread with each converted buffer,
    /// in capture order. It may block for a while (buffers queue up
    /// meanwhile) and must not throw.
    using SampleHandler = std::function<void(std::span<const float>)>;

    struct Options {
        /// The device to capture from; the default input device when absent.
        std::optional<uint32_t> device = std::nullopt;
        /// Rate of the samples handed over.
        double sampleRate = 16000;
        /// Frames per captured buffer, counted at `sampleRate`: 1,600 is a
        /// tenth of a second at 16 kHz.
        uint32_t framesPerBuffer = 1600;
        /// Captured buffers that may wait for conversion before new ones are
        /// dropped.
        uint32_t queueLength = 256;
    };

    /// Opens the device and starts capturing. Throws SystemError when the
    /// device cannot be opened or started, or when `options` are unusable.
    AudioCapture(CaptureBackend& backend, const Options& options, SampleHandler handler);
    /// Stops the capture as stop() does.
    ~AudioCapture();
    AudioCapture(const AudioCapture&) = delete;
    AudioCapture& operator=(const AudioCapture&) = delete;

    /// Stops capturing without ending the recording: buffers already
    /// captured are still delivered, and resume() carries on.
    void pause();
    /// Captures again after pause(). Throws SystemError.
    void resume();
    /// Ends the capture and returns once everything captured has been
    /// delivered (see above). Harmless when repeated. Called from inside the
    /// sample handler it returns at once; the rest is delivered after the
    /// handler returns.
    void stop();

    /// The format the device delivers.
    const AudioFormat& deviceFormat() const;
    /// Buffers dropped because the queue was full.
    uint64_t droppedBuffers() const;

private:
    struct State;
    std::shared_ptr<State> state_;
};

} // namespace platform::audio
