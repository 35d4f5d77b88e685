#include "murmex/core/audio/AudioStreamTranscriber.h"

#include "murmex/base/Constants.h"
#include "murmex/base/TextUtilities.h"
#include "murmex/core/audio/AudioProcessor.h"
#include "platform/system/Cancellation.h"
#include "platform/system/Outcome.h"
#include "platform/system/Progress.h"
#include "platform/text/Graphemes.h"
#include "tessary_core/Logging.h"

#include <algorithm>
#include <chrono>
#include <exception>

namespace murmex {

namespace {

using tessary::Logging;

constexpr const char* waitingText = "Waiting for speech...";

} // namespace

/// The transcriber as callbacks from other threads see it; cleared when it goes.
struct AudioStreamTranscriber::Liveness {
    std::mutex mutex;
    AudioStreamTranscriber* transcriber = nullptr;

    template <typename Fn> void ifAlive(Fn&& fn) {
        std::lock_guard lock(mutex);
        if (transcriber) fn(*transcriber);
    }
};

AudioStreamTranscriber::AudioStreamTranscriber(
    std::shared_ptr<AudioEncoding> audioEncoder,
    std::shared_ptr<FeatureExtracting> featureExtractor,
    std::shared_ptr<SegmentSeeking> segmentSeeker, std::shared_ptr<TextDecoding> textDecoder,
    std::shared_ptr<WhisperTokenizer> tokenizer, std::shared_ptr<AudioProcessing> audioProcessor,
    DecodingOptions decodingOptions, int64_t requiredSegmentsForConfirmation,
    float silenceThreshold, int64_t compressionCheckWindow, bool useVAD,
    StateChangeCallback stateChangeCallback)
    : transcribeTask_(std::make_shared<TranscribeTask>(
          TranscriptionTimings{}, platform::system::Progress::create(), audioProcessor,
          std::move(audioEncoder), std::move(featureExtractor), std::move(segmentSeeker),
          std::move(textDecoder), std::move(tokenizer))),
      audioProcessor_(std::move(audioProcessor)), decodingOptions_(std::move(decodingOptions)),
      requiredSegmentsForConfirmation_(requiredSegmentsForConfirmation),
      silenceThreshold_(silenceThreshold), compressionCheckWindow_(compressionCheckWindow),
      useVAD_(useVAD), stateChangeCallback_(std::move(stateChangeCallback)),
      liveness_(std::make_shared<Liveness>()) {
    liveness_->transcriber = this;
}

AudioStreamTranscriber::~AudioStreamTranscriber() {
    {
        std::lock_guard lock(liveness_->mutex);
        liveness_->transcriber = nullptr;
    }
    if (state().isRecording) audioProcessor_->stopRecording();
}

AudioStreamTranscriber::State AudioStreamTranscriber::state() const {
    std::lock_guard lock(stateMutex_);
    return state_;
}

void AudioStreamTranscriber::change(const std::function<void(State&)>& change) {
    queue_.sync([&] {
        State before, after;
        {
            std::lock_guard lock(stateMutex_);
            before = state_;
            change(state_);
            after = state_;
        }
        if (stateChangeCallback_) stateChangeCallback_(before, after);
    });
}

bool AudioStreamTranscriber::permitted() const {
    if (const auto* processor = dynamic_cast<const AudioProcessor*>(audioProcessor_.get()))
        return AudioProcessor::requestRecordPermission(*processor->captureBackend());
    return AudioProcessor::requestRecordPermission();
}

void AudioStreamTranscriber::startStreamTranscription() {
    if (state().isRecording) return;
    if (!permitted()) {
        Logging::error("Microphone access was not granted.");
        return;
    }
    bool started = false;
    change([&](State& state) {
        started = !state.isRecording;
        state.isRecording = true;
    });
    if (!started) return; // another thread started first
    try {
        audioProcessor_->startRecordingLive(
            std::nullopt, [liveness = liveness_](const std::vector<float>&) {
                liveness->ifAlive([](AudioStreamTranscriber& self) {
                    self.queue_.post([&self] { self.onAudioBufferCallback(); });
                });
            });
    } catch (...) {
        // Not recording after all: a later start may try again.
        change([](State& state) { state.isRecording = false; });
        throw;
    }
    Logging::info("Realtime transcription has started");
    while (state().isRecording) {
        try {
            transcribeCurrentBuffer();
        } catch (...) {
            Logging::error("Error: " + platform::system::describeError(std::current_exception()));
            // The capture ends with the loop, or the buffer would grow
            // without anyone reading it.
            if (state().isRecording) stopStreamTranscription();
            break;
        }
    }
}

void AudioStreamTranscriber::stopStreamTranscription() {
    change([](State& state) { state.isRecording = false; });
    audioProcessor_->stopRecording();
    Logging::info("Realtime transcription has ended");
    std::lock_guard lock(waitMutex_);
    wake_.notify_all();
}

void AudioStreamTranscriber::onAudioBufferCallback() {
    const std::vector<float> energy = audioProcessor_->relativeEnergy();
    change([&](State& state) { state.bufferEnergy = energy; });
}

void AudioStreamTranscriber::onProgressCallback(const TranscriptionProgress& progress) {
    const auto fallbacks = int64_t(progress.timings.totalDecodingFallbacks);
    const State current = state();
    // The waiting placeholder is no window's text: it is replaced, never kept.
    const bool placeholder = current.currentText == waitingText;
    if (!placeholder && platform::text::graphemeCount(progress.text) <
                            platform::text::graphemeCount(current.currentText)) {
        if (fallbacks == current.currentFallbacks) {
            // A new window has begun: the previous one's text is kept.
            change([&](State& state) { state.unconfirmedText.push_back(current.currentText); });
        } else {
            Logging::info("Fallback occured: " + std::to_string(fallbacks));
        }
    }
    change([&](State& state) { state.currentText = progress.text; });
    change([&](State& state) { state.currentFallbacks = fallbacks; });
}

void AudioStreamTranscriber::waitATenth() {
    std::unique_lock lock(waitMutex_);
    wake_.wait_for(lock, std::chrono::milliseconds(100),
                   [&] { return !state().isRecording || platform::system::isCancelled(); });
    platform::system::checkCancellation();
}

void AudioStreamTranscriber::transcribeCurrentBuffer() {
    const auto bufferCount = int64_t(audioProcessor_->audioSampleCount());
    const int64_t newSamples = bufferCount - state().lastBufferSize;
    const float newSeconds = float(newSamples) / float(Constants::sampleRate);
    auto waitForSpeech = [&] {
        if (state().currentText.empty())
            change([](State& state) { state.currentText = waitingText; });
        waitATenth();
    };
    if (!(newSeconds > 1.0f)) {
        waitForSpeech();
        return;
    }
    if (useVAD_ && !AudioProcessor::isVoiceDetected(audioProcessor_->relativeEnergy(), newSeconds,
                                                    silenceThreshold_)) {
        Logging::debug("No voice detected, skipping transcribe");
        waitForSpeech();
        return;
    }
    // The samples of the pass: everything captured so far.
    const std::vector<float> buffer = audioProcessor_->audioSamples();
    change([&](State& state) { state.lastBufferSize = int64_t(buffer.size()); });
    const TranscriptionResult result = transcribeAudioSamples(buffer);

    change([](State& state) { state.currentText.clear(); });
    change([](State& state) { state.unconfirmedText.clear(); });
    const std::vector<TranscriptionSegment> segments = result.segments();
    const auto required = size_t(std::max<int64_t>(requiredSegmentsForConfirmation_, 0));
    if (segments.size() > required) {
        const std::vector<TranscriptionSegment> candidates(segments.begin(),
                                                           segments.end() - ptrdiff_t(required));
        const std::vector<TranscriptionSegment> remainder(segments.end() - ptrdiff_t(required),
                                                          segments.end());
        const State current = state();
        if (candidates.back().end > current.lastConfirmedSegmentEndSeconds) {
            change([&](State& state) {
                state.lastConfirmedSegmentEndSeconds = candidates.back().end;
            });
            const auto& confirmed = current.confirmedSegments;
            const bool alreadyConfirmed =
                std::search(confirmed.begin(), confirmed.end(), candidates.begin(),
                            candidates.end()) != confirmed.end();
            if (!alreadyConfirmed) {
                change([&](State& state) {
                    state.confirmedSegments.insert(state.confirmedSegments.end(),
                                                   candidates.begin(), candidates.end());
                });
            }
        }
        change([&](State& state) { state.unconfirmedSegments = remainder; });
    } else {
        change([&](State& state) { state.unconfirmedSegments = segments; });
    }
}

TranscriptionResult
AudioStreamTranscriber::transcribeAudioSamples(const std::vector<float>& samples) {
    DecodingOptions options = decodingOptions_;
    options.clipTimestamps = {state().lastConfirmedSegmentEndSeconds};
    const int64_t window = compressionCheckWindow_;
    return transcribeTask_->run(
        samples, options,
        [liveness = liveness_, options, window](const TranscriptionProgress& progress) {
            liveness->ifAlive([&](AudioStreamTranscriber& self) {
                self.queue_.post([&self, progress] { self.onProgressCallback(progress); });
            });
            return shouldStopEarly(progress, options, window);
        });
}

std::optional<bool> AudioStreamTranscriber::shouldStopEarly(const TranscriptionProgress& progress,
                                                            const DecodingOptions& options,
                                                            int64_t compressionCheckWindow) {
    if (compressionCheckWindow > 0 && options.compressionRatioThreshold &&
        progress.tokens.size() > size_t(compressionCheckWindow)) {
        const std::span<const int> recent =
            std::span(progress.tokens).last(size_t(compressionCheckWindow));
        if (TextUtilities::compressionRatio(recent) > *options.compressionRatioThreshold)
            return false;
    }
    if (progress.avgLogprob && options.logProbThreshold &&
        *progress.avgLogprob < *options.logProbThreshold) {
        return false;
    }
    return std::nullopt;
}

} // namespace murmex
