#include "halvex_zovuruv/desktop/AudioRecorder.h"

#include "platform/audio/AudioCapture.h"
#include "platform/audio/CaptureBackend.h"
#include "platform/system/SystemError.h"

namespace halvex {

AudioRecorder::AudioRecorder(std::shared_ptr<platform::audio::CaptureBackend> backend)
    : backend_(backend ? std::move(backend) : platform::audio::CaptureBackend::system()),
      samples_(std::make_shared<Samples>()) {}

AudioRecorder::~AudioRecorder() = default;

void AudioRecorder::start() {
    if (capture_) stop(); // a start without stop drops the unfinished recording
    {
        std::lock_guard lock(samples_->mutex);
        samples_->values.clear();
    }
    auto device = backend_->defaultInputDevice();
    if (!device || !(device->sampleRate > 0))
        throw platform::system::SystemError(kErrorDomain, kNoMicrophone, "Микрофон недоступен");

    platform::audio::AudioCapture::Options options;
    options.sampleRate = 16000;
    // The handler holds the samples, not the recorder, which may go first.
    capture_ = std::make_unique<platform::audio::AudioCapture>(
        *backend_, options, [samples = samples_](std::span<const float> converted) {
            std::lock_guard lock(samples->mutex);
            samples->values.insert(samples->values.end(), converted.begin(), converted.end());
        });
}

std::vector<float> AudioRecorder::stop() {
    if (!capture_) return {};
    capture_->stop(); // delivers every captured buffer and the converter's tail
    capture_.reset();
    std::lock_guard lock(samples_->mutex);
    return samples_->values;
}

} // namespace halvex
