// The live half of AudioProcessor: capture, metering, devices, and the
// loudness helpers.

#include "murmex/base/WhisperError.h"
#include "murmex/core/audio/AudioProcessor.h"
#include "murmex/core/audio/EnergyVAD.h"
#include "platform/system/SystemError.h"
#include "tessary_core/Logging.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

namespace murmex {

namespace {

using platform::audio::AudioCapture;
using platform::audio::CaptureBackend;
using platform::system::SystemError;
using tessary::Logging;

constexpr double captureRate = Constants::sampleRate;
// How many of the latest records the relative energy compares with.
constexpr size_t referenceRecords = 20;

/// Sum of squares in eight independent lanes, so the additions do not wait
/// on one another.
double sumOfSquares(const float* samples, size_t count) {
    float lanes[8] = {};
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        for (int k = 0; k < 8; ++k)
            lanes[k] += samples[i + k] * samples[i + k];
    }
    double sum = 0;
    for (float lane : lanes)
        sum += lane;
    for (; i < count; ++i)
        sum += double(samples[i]) * samples[i];
    return sum;
}

float rootMeanSquare(std::span<const float> signal) {
    if (signal.empty()) return 0;
    return float(std::sqrt(sumOfSquares(signal.data(), signal.size()) / double(signal.size())));
}

} // namespace

/// The processor as seen from buffers still in flight: cleared when it goes.
struct AudioProcessor::Liveness {
    std::mutex mutex;
    AudioProcessor* processor = nullptr;
};

AudioProcessor::AudioProcessor() : AudioProcessor(CaptureBackend::system()) {}

AudioProcessor::AudioProcessor(std::shared_ptr<CaptureBackend> backend)
    : backend_(std::move(backend)), liveness_(std::make_shared<Liveness>()) {
    liveness_->processor = this;
}

AudioProcessor::~AudioProcessor() {
    stopRecording();
    std::lock_guard lock(liveness_->mutex);
    liveness_->processor = nullptr;
}

platform::audio::CaptureBackend& AudioProcessor::systemBackend() {
    return *CaptureBackend::system();
}

// Samples and records.

std::vector<float> AudioProcessor::audioSamples() const {
    std::lock_guard lock(samplesMutex_);
    return audioSamples_;
}

size_t AudioProcessor::audioSampleCount() const {
    std::lock_guard lock(samplesMutex_);
    return audioSamples_.size();
}

void AudioProcessor::purgeAudioSamples(int64_t keepingLast) {
    std::lock_guard lock(samplesMutex_);
    const auto keep = size_t(std::max<int64_t>(keepingLast, 0));
    if (keep >= audioSamples_.size()) return;
    audioSamples_.erase(audioSamples_.begin(), audioSamples_.end() - ptrdiff_t(keep));
}

std::vector<AudioEnergy> AudioProcessor::audioEnergy() const {
    std::lock_guard lock(samplesMutex_);
    return audioEnergy_;
}

std::vector<float> AudioProcessor::relativeEnergy() const {
    std::lock_guard lock(samplesMutex_);
    std::vector<float> relative;
    relative.reserve(audioEnergy_.size());
    for (const AudioEnergy& record : audioEnergy_)
        relative.push_back(record.rel);
    return relative;
}

AudioBufferCallback AudioProcessor::audioBufferCallback() const {
    std::lock_guard lock(samplesMutex_);
    return audioBufferCallback_;
}

void AudioProcessor::setAudioBufferCallback(AudioBufferCallback callback) {
    std::lock_guard lock(samplesMutex_);
    audioBufferCallback_ = std::move(callback);
}

bool AudioProcessor::isRecording() const {
    std::lock_guard lock(engineMutex_);
    return audioEngine_ != nullptr;
}

void AudioProcessor::processBuffer(std::vector<float> samples) {
    if (isInputSuppressed_) std::fill(samples.begin(), samples.end(), 0.0f);
    const Energy energy = calculateEnergy(samples);
    AudioEnergy record;
    AudioBufferCallback callback;
    size_t count = 0;
    {
        std::lock_guard lock(samplesMutex_);
        audioSamples_.insert(audioSamples_.end(), samples.begin(), samples.end());
        // The quietest of the latest records; none makes the first record 0.
        float reference = std::numeric_limits<float>::infinity();
        const size_t from = audioEnergy_.size() - std::min(audioEnergy_.size(), referenceRecords);
        for (size_t i = from; i < audioEnergy_.size(); ++i)
            reference = std::min(reference, audioEnergy_[i].avg);
        record = {calculateRelativeEnergy(samples, reference), energy.avg, energy.max, energy.min};
        audioEnergy_.push_back(record);
        count = audioSamples_.size();
        callback = audioBufferCallback_;
    }
    if (callback) callback(samples);
    const int64_t period = int64_t(minBufferLength_) * int64_t(relativeEnergyWindow_);
    if (period > 0 && count % uint64_t(period) == 0 &&
        Logging::isEnabled(Logging::LogLevel::debug)) {
        Logging::debug(Logging::Separator{""}, "Current audio size: ", count,
                       " samples, most recent buffer: ", samples.size(),
                       " samples, most recent energy: (", record.rel, ", ", record.avg, ", ",
                       record.max, ", ", record.min, ")");
    }
}

// Capture.

std::unique_ptr<AudioCapture> AudioProcessor::setupEngine(std::optional<DeviceID> device) {
    const int frames = minBufferLength_;
    if (frames <= 0) {
        throw WhisperError::audioProcessingFailed("Invalid capture buffer length " +
                                                  std::to_string(frames));
    }
    if (device) {
        // Capturing from a device that is not there falls back to the
        // default input, as a failed device choice does.
        const auto devices = backend_->inputDevices();
        const bool found = std::any_of(devices.begin(), devices.end(),
                                       [&](const auto& input) { return input.id == *device; });
        if (found) {
            Logging::info("Successfully set input device.");
        } else {
            Logging::error("Error setting Audio Unit property: " +
                           std::to_string(CaptureBackend::deviceNotFound));
            device.reset();
        }
    }
    AudioCapture::Options options;
    options.device = device;
    options.sampleRate = captureRate;
    options.framesPerBuffer = uint32_t(frames);
    return std::make_unique<AudioCapture>(
        *backend_, options, [liveness = liveness_](std::span<const float> samples) {
            std::lock_guard lock(liveness->mutex);
            if (liveness->processor) {
                liveness->processor->processBuffer(
                    std::vector<float>(samples.begin(), samples.end()));
            }
        });
}

void AudioProcessor::replaceEngine(std::unique_ptr<AudioCapture> engine) {
    std::unique_ptr<AudioCapture> previous;
    {
        std::lock_guard lock(engineMutex_);
        previous = std::exchange(audioEngine_, std::move(engine));
    }
    // Stopped outside the lock: stopping waits for the buffers in flight,
    // whose callback may ask for the lock.
    if (previous) previous->stop();
}

void AudioProcessor::startRecordingLive(std::optional<DeviceID> inputDeviceID,
                                        AudioBufferCallback callback) {
    // One capture at a time: the previous one ends before the new one opens
    // the device.
    replaceEngine(nullptr);
    {
        std::lock_guard lock(samplesMutex_);
        audioSamples_.clear();
        audioEnergy_.clear();
    }
    auto engine = setupEngine(inputDeviceID);
    replaceEngine(std::move(engine));
    {
        std::lock_guard lock(engineMutex_);
        lastInputDevice_ = inputDeviceID;
    }
    setAudioBufferCallback(std::move(callback));
}

std::pair<AudioSampleStream, AudioSampleStream::Continuation>
AudioProcessor::startStreamingRecordingLive(std::optional<DeviceID> inputDeviceID) {
    auto [stream, continuation] = AudioSampleStream::make();
    continuation.setOnTermination([liveness = liveness_] {
        AudioProcessor* processor = nullptr;
        {
            std::lock_guard lock(liveness->mutex);
            processor = liveness->processor;
        }
        if (!processor) return;
        processor->setAudioBufferCallback({});
        processor->stopRecording();
    });
    try {
        startRecordingLive(inputDeviceID, [continuation](const std::vector<float>& samples) {
            continuation.yield(samples);
        });
    } catch (...) {
        continuation.finish(std::current_exception());
    }
    return {std::move(stream), continuation};
}

void AudioProcessor::pauseRecording() {
    std::lock_guard lock(engineMutex_);
    if (audioEngine_) audioEngine_->pause();
}

void AudioProcessor::stopRecording() {
    replaceEngine(nullptr);
}

void AudioProcessor::resumeRecordingLive(std::optional<DeviceID> inputDeviceID,
                                         AudioBufferCallback callback) {
    bool sameDevice = false;
    {
        std::lock_guard lock(engineMutex_);
        sameDevice = inputDeviceID == lastInputDevice_;
        if (sameDevice && audioEngine_) audioEngine_->resume();
    }
    if (!sameDevice) {
        replaceEngine(nullptr);
        auto engine = setupEngine(inputDeviceID);
        replaceEngine(std::move(engine));
        std::lock_guard lock(engineMutex_);
        lastInputDevice_ = inputDeviceID;
    }
    if (callback) setAudioBufferCallback(std::move(callback));
}

// Devices and permission.

std::vector<AudioDevice> AudioProcessor::getAudioDevices(CaptureBackend& backend) {
    std::vector<AudioDevice> devices;
    try {
        for (const auto& input : backend.inputDevices())
            devices.push_back({input.id, input.name});
    } catch (const SystemError& error) {
        Logging::error("Error: Unable to get the audio device IDs.", error.what());
        return {};
    }
    return devices;
}

bool AudioProcessor::requestRecordPermission(CaptureBackend& backend) {
    try {
        if (backend.defaultInputDevice()) return true;
    } catch (const SystemError&) {
    }
    Logging::error("Microphone access denied");
    return false;
}

// Loudness helpers.

float AudioProcessor::calculateAverageEnergy(std::span<const float> signal) {
    return rootMeanSquare(signal);
}

AudioProcessor::Energy AudioProcessor::calculateEnergy(std::span<const float> signal) {
    if (signal.empty()) return {};
    float largest = 0, smallest = std::numeric_limits<float>::infinity();
    for (float sample : signal) {
        const float magnitude = std::fabs(sample);
        largest = std::max(largest, magnitude);
        smallest = std::min(smallest, magnitude);
    }
    return {rootMeanSquare(signal), largest, smallest};
}

float AudioProcessor::calculateRelativeEnergy(std::span<const float> signal,
                                              std::optional<float> reference) {
    const double level = 20.0 * std::log10(double(rootMeanSquare(signal)));
    const double referenceLevel =
        reference ? 20.0 * std::log10(std::max(double(*reference), 1e-8)) : -60.0;
    const double relative = (level - referenceLevel) / (0.0 - referenceLevel);
    if (relative > 1.0) return 1.0f;
    if (!(relative >= 0.0)) return 0.0f; // negative or not a number
    return float(relative);
}

bool AudioProcessor::isVoiceDetected(std::span<const float> energy, float nextBufferInSeconds,
                                     float silenceThreshold) {
    // One record stands for a tenth of a second.
    const float records = nextBufferInSeconds / 0.1f;
    const size_t wanted = records > 0 ? size_t(std::min(records, float(energy.size()))) : size_t(0);
    const std::span<const float> recent = energy.last(std::min(wanted, energy.size()));
    // The newest ten are left out when there are more than twenty.
    const size_t considered =
        std::min(recent.size(), std::max(recent.size() > 10 ? recent.size() - 10 : 0, size_t(10)));
    return std::any_of(recent.begin(), recent.begin() + ptrdiff_t(considered),
                       [&](float value) { return value > silenceThreshold; });
}

std::vector<bool> AudioProcessor::calculateVoiceActivityInChunks(std::span<const float> signal,
                                                                 int64_t chunkCount,
                                                                 int64_t frameLengthSamples,
                                                                 int64_t frameOverlapSamples,
                                                                 float energyThreshold) {
    std::vector<bool> active;
    if (chunkCount <= 0) return active;
    active.reserve(size_t(chunkCount));
    const auto length = int64_t(signal.size());
    for (int64_t i = 0; i < chunkCount; ++i) {
        // Chunks that would start past the end are silent.
        const bool beyond = frameLengthSamples > 0 && i > length / frameLengthSamples;
        const int64_t start =
            beyond ? length : std::clamp<int64_t>(i * frameLengthSamples, 0, length);
        const int64_t reach =
            std::max<int64_t>(frameLengthSamples, 0) + std::max<int64_t>(frameOverlapSamples, 0);
        const int64_t end = reach >= length - start ? length : start + reach;
        active.push_back(rootMeanSquare(signal.subspan(size_t(start), size_t(end - start))) >
                         energyThreshold);
    }
    return active;
}

std::vector<std::pair<int64_t, int64_t>>
AudioProcessor::calculateNonSilentChunks(std::span<const float> signal) {
    std::vector<std::pair<int64_t, int64_t>> chunks;
    for (const IndexRange& range : EnergyVAD().calculateActiveChunks(signal))
        chunks.emplace_back(range.startIndex, range.endIndex);
    return chunks;
}

std::optional<platform::system::BitmapImage>
AudioProcessor::createWaveformImage(std::span<const float> samples, double width, double height) {
    if (!std::isfinite(width) || !std::isfinite(height) || width < 1 || height < 1)
        return std::nullopt;
    const auto columns = int64_t(width);
    const auto rows = int64_t(height);
    if (columns > std::numeric_limits<int>::max() / 4 || rows > std::numeric_limits<int>::max() ||
        uint64_t(columns) * uint64_t(rows) > samples.size()) {
        return std::nullopt;
    }
    platform::system::BitmapImage image;
    image.width = int(columns);
    image.height = int(rows);
    image.bytesPerRow = int(columns) * 4;
    const size_t pixels = size_t(columns) * size_t(rows);
    image.bytes.resize(pixels * 4);
    // Each sample's four bytes as stored, little-endian.
    for (size_t i = 0; i < pixels; ++i) {
        uint32_t bits;
        std::memcpy(&bits, &samples[i], 4);
        for (int b = 0; b < 4; ++b)
            image.bytes[i * 4 + size_t(b)] = uint8_t(bits >> (8 * b));
    }
    return image;
}

} // namespace murmex
