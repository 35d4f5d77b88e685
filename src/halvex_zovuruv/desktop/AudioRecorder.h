#pragma once
// The microphone for dictation: captures the default input device as 16 kHz
// mono float samples and hands the whole recording over at stop().
//
// The capture (platform::audio::AudioCapture) converts every buffer on its
// own thread with one resampler per recording, flushed at the end, so the
// recording's tail is kept. The samples are appended and read under a lock.

#include "halvex_zovuruv/core/AudioRecording.h"

#include <memory>
#include <mutex>

namespace platform::audio {
class AudioCapture;
class CaptureBackend;
} // namespace platform::audio

namespace halvex {

class AudioRecorder final : public AudioRecording {
public:
    /// The error domain and code of a machine without a usable microphone.
    static constexpr const char* kErrorDomain = "HalvexZovuruv";
    static constexpr long kNoMicrophone = 1;

    /// Captures through `backend` (the system's sound server by default).
    explicit AudioRecorder(std::shared_ptr<platform::audio::CaptureBackend> backend = nullptr);
    ~AudioRecorder() override;

    /// Throws platform::system::SystemError: "Микрофон недоступен" without an
    /// input device, or the capture's own error when the device cannot be
    /// opened, converted from or started. The recorder stays usable.
    void start() override;
    /// Every sample of the recording, the converter's last ones included;
    /// nothing when no recording runs.
    std::vector<float> stop() override;

private:
    struct Samples {
        std::mutex mutex;
        std::vector<float> values;
    };
    std::shared_ptr<platform::audio::CaptureBackend> backend_;
    std::unique_ptr<platform::audio::AudioCapture> capture_;
    std::shared_ptr<Samples> samples_;
};

} // namespace halvex
