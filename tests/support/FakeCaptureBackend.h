#pragma once
// A capture backend whose "microphone" is the test: devices are a list the
// test sets, and a started stream delivers exactly the buffers the test hands
// to deliver(), on the test's own thread, as a sound card's audio thread
// would.

#include "platform/audio/CaptureBackend.h"
#include "platform/system/SystemError.h"

#include <cmath>
#include <mutex>
#include <optional>
#include <vector>

namespace zvtest {

class FakeCaptureBackend : public platform::audio::CaptureBackend {
public:
    std::vector<platform::audio::InputDevice> devices = {{7, "Test microphone", 1, 48000}};
    /// Rate and channels a stream delivers; the preferred format when absent.
    std::optional<platform::audio::AudioFormat> deviceFormat;
    /// When set, starting a stream fails with this code.
    std::optional<long> startFailure;

    std::vector<platform::audio::InputDevice> inputDevices() override { return devices; }
    std::optional<platform::audio::InputDevice> defaultInputDevice() override {
        if (devices.empty()) return std::nullopt;
        return devices.front();
    }

    std::unique_ptr<platform::audio::CaptureStream>
    open(std::optional<uint32_t> device, const platform::audio::AudioFormat& preferred,
         uint32_t framesPerBuffer, platform::audio::CaptureCallback callback) override {
        std::lock_guard lock(mutex_);
        if (devices.empty())
            throw platform::system::SystemError(errorDomain, -9996, "No input device");
        openedDevices.push_back(device);
        const platform::audio::AudioFormat format = deviceFormat.value_or(preferred);
        // Buffers last as long as asked, at the device's rate.
        const auto frames =
            uint32_t(framesPerBuffer * format.sampleRate() / preferred.sampleRate());
        auto stream = std::make_unique<Stream>(*this, format, frames, std::move(callback));
        current_ = stream.get();
        return stream;
    }

    /// Hands one buffer (one plane per channel) to the newest stream; false
    /// when it is not running.
    bool deliver(const std::vector<std::vector<float>>& planes) {
        std::lock_guard lock(mutex_);
        if (!current_ || !current_->running) return false;
        std::vector<const float*> pointers;
        for (const auto& plane : planes)
            pointers.push_back(plane.data());
        current_->callback(pointers.data(), uint32_t(planes.front().size()));
        return true;
    }
    /// The same for a mono buffer.
    bool deliver(const std::vector<float>& mono) {
        return deliver(std::vector<std::vector<float>>{mono});
    }

    bool streamRunning() {
        std::lock_guard lock(mutex_);
        return current_ && current_->running;
    }
    int streamsOpen() {
        std::lock_guard lock(mutex_);
        return open_;
    }

    std::vector<std::optional<uint32_t>> openedDevices;

private:
    struct Stream : platform::audio::CaptureStream {
        Stream(FakeCaptureBackend& owner, platform::audio::AudioFormat format, uint32_t frames,
               platform::audio::CaptureCallback callback)
            : owner(owner), streamFormat(format), frames(frames), callback(std::move(callback)) {
            ++owner.open_;
        }
        ~Stream() override {
            std::lock_guard lock(owner.mutex_);
            --owner.open_;
            if (owner.current_ == this) owner.current_ = nullptr;
        }
        const platform::audio::AudioFormat& format() const override { return streamFormat; }
        uint32_t framesPerBuffer() const override { return frames; }
        void start() override {
            std::lock_guard lock(owner.mutex_);
            if (owner.startFailure)
                throw platform::system::SystemError(errorDomain, *owner.startFailure,
                                                    "Cannot start capture");
            running = true;
        }
        void stop() override {
            std::lock_guard lock(owner.mutex_);
            running = false;
        }

        FakeCaptureBackend& owner;
        platform::audio::AudioFormat streamFormat;
        uint32_t frames;
        platform::audio::CaptureCallback callback;
        bool running = false;
    };

    std::mutex mutex_;
    Stream* current_ = nullptr;
    int open_ = 0;
};

} // namespace zvtest
