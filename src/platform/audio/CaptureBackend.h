#pragma once
// Where live audio comes from: the machine's input devices and streams that
// capture from one of them. The system backend talks to the sound server
// through PortAudio; tests hand in a backend of their own that delivers the
// buffers they choose.
//
// A stream calls its callback on the backend's audio thread, once per
// captured buffer, with one plane of 32-bit float samples per channel. The
// callback must return quickly and must not block: it hands the buffer over
// and leaves all work to another thread (AudioCapture does exactly that).
//
// Failures are platform::system::SystemError values in the domain
// "platform.audio.Capture" with the backend's error code and text.

#include "platform/audio/AudioFormat.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform::audio {

/// An input-capable device. `id` is the backend's number for it, valid until
/// the device set changes.
struct InputDevice {
    uint32_t id = 0;
    std::string name;
    /// Input channels the device offers (at least 1).
    uint32_t channelCount = 1;
    /// The rate the device runs at unless asked otherwise.
    double sampleRate = 0;

    friend bool operator==(const InputDevice&, const InputDevice&) = default;
};

/// One captured buffer: `frames` frames, one plane per channel.
using CaptureCallback = std::function<void(const float* const* planes, uint32_t frames)>;

class CaptureStream {
public:
    /// Stops the stream if it runs and closes it.
    virtual ~CaptureStream() = default;

    /// The format buffers arrive in: the device's rate and channel count.
    virtual const AudioFormat& format() const = 0;
    /// Frames per callback.
    virtual uint32_t framesPerBuffer() const = 0;

    /// Starts (or restarts after stop) delivering buffers. Throws SystemError.
    virtual void start() = 0;
    /// Stops delivering; when it returns no callback runs any more. The
    /// stream can be started again.
    virtual void stop() = 0;
};

class CaptureBackend {
public:
    static constexpr const char* errorDomain = "platform.audio.Capture";
    /// The error code of a device that does not exist.
    static constexpr long deviceNotFound = -9996;

    virtual ~CaptureBackend() = default;

    /// The input-capable devices, in the system's order, read afresh.
    virtual std::vector<InputDevice> inputDevices() = 0;
    /// The device capture uses when none is named; nothing when the machine
    /// has no input device.
    virtual std::optional<InputDevice> defaultInputDevice() = 0;

    /// Opens `device` (the default device when absent) for capture. The
    /// stream asks for `preferred` (rate and channels) and, when the device
    /// cannot deliver that, takes the device's own rate and at most the
    /// preferred channel count. Each buffer stands for the time of
    /// `framesPerBuffer` frames at the preferred rate. Throws SystemError when
    /// there is no such device or it cannot be opened.
    virtual std::unique_ptr<CaptureStream> open(std::optional<uint32_t> device,
                                                const AudioFormat& preferred,
                                                uint32_t framesPerBuffer,
                                                CaptureCallback callback) = 0;

    /// The machine's own backend (PortAudio), shared by the whole process.
    static std::shared_ptr<CaptureBackend> system();
};

} // namespace platform::audio
