#pragma once
// Transcribes the microphone while the user speaks. Capture runs through the
// audio processor; about every tenth of a second the transcriber looks at how
// much new audio has come in, and once there is more than a second of it
// (and, with voice gating, speech was heard in it) it transcribes the audio
// from the end of the last confirmed segment to the end of the buffer. Of the
// segments a pass returns, all but the last few are confirmed for good; the
// last few stay unconfirmed, since the next pass, hearing more, may change
// them. Every change of the state is reported to the state callback, which
// is how a caller draws the live text.
//
// The transcriber works like an actor: its state changes one at a time on
// its own serial queue. The loop waits there for its own changes; the
// capture's buffer callback and the decoder's progress callback only queue
// theirs, so neither the audio nor the decoder ever waits for the state
// callback. The state callback runs on that queue, once per changed field,
// in the order of the changes; it may read the state and stop the
// transcriber, but must not wait for another thread that uses it.
//
// Defaults of the open settings: two trailing segments stay unconfirmed (a
// pass's last segment is usually cut mid-phrase, and the one before it still
// changes when the next pass hears how the phrase goes on); a buffer counts
// as speech above a relative loudness of 0.3 (room noise stays well below it
// against the quietest of the last two seconds, speech well above); the
// repetition check compresses the last 60 tokens (about one window of
// speech: long enough for a stable ratio, short enough to catch a loop as it
// starts); voice gating is on, so silence costs no passes and invites no
// made-up text.

#include "murmex/core/AudioEncoding.h"
#include "murmex/core/FeatureExtracting.h"
#include "murmex/core/TextDecoding.h"
#include "murmex/core/TranscribeTask.h"
#include "murmex/core/WhisperTokenizer.h"
#include "murmex/core/audio/AudioProcessing.h"
#include "murmex/core/text/SegmentSeeking.h"
#include "murmex/records/DecodingOptions.h"
#include "murmex/records/TranscriptionProgress.h"
#include "murmex/records/TranscriptionResult.h"
#include "murmex/records/TranscriptionSegment.h"
#include "platform/system/SerialQueue.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace murmex {

class AudioStreamTranscriber {
public:
    struct State {
        bool isRecording = false;
        /// Decoding fallbacks reported by the latest progress.
        int64_t currentFallbacks = 0;
        /// Captured samples at the start of the latest pass.
        int64_t lastBufferSize = 0;
        /// End (seconds from the start of the recording) of the last confirmed segment.
        float lastConfirmedSegmentEndSeconds = 0;
        /// Relative loudness of every captured buffer.
        std::vector<float> bufferEnergy;
        /// Text of the pass in progress, or "Waiting for speech...".
        std::string currentText;
        std::vector<TranscriptionSegment> confirmedSegments;
        std::vector<TranscriptionSegment> unconfirmedSegments;
        /// Texts of the earlier windows of the pass in progress.
        std::vector<std::string> unconfirmedText;

        friend bool operator==(const State&, const State&) = default;
    };

    using StateChangeCallback = std::function<void(const State& oldState, const State& newState)>;

    static constexpr int64_t defaultRequiredSegmentsForConfirmation = 2;
    static constexpr float defaultSilenceThreshold = 0.3f;
    static constexpr int64_t defaultCompressionCheckWindow = 60;
    static constexpr bool defaultUseVAD = true;

    AudioStreamTranscriber(
        std::shared_ptr<AudioEncoding> audioEncoder,
        std::shared_ptr<FeatureExtracting> featureExtractor,
        std::shared_ptr<SegmentSeeking> segmentSeeker, std::shared_ptr<TextDecoding> textDecoder,
        std::shared_ptr<WhisperTokenizer> tokenizer,
        std::shared_ptr<AudioProcessing> audioProcessor, DecodingOptions decodingOptions,
        int64_t requiredSegmentsForConfirmation = defaultRequiredSegmentsForConfirmation,
        float silenceThreshold = defaultSilenceThreshold,
        int64_t compressionCheckWindow = defaultCompressionCheckWindow, bool useVAD = defaultUseVAD,
        StateChangeCallback stateChangeCallback = {});
    ~AudioStreamTranscriber();
    AudioStreamTranscriber(const AudioStreamTranscriber&) = delete;
    AudioStreamTranscriber& operator=(const AudioStreamTranscriber&) = delete;

    /// Starts capturing from the default input and runs the transcription
    /// loop on the calling thread until stopStreamTranscription() is called
    /// or a pass fails; returns at once when already recording, and without
    /// an error (after the log line "Microphone access was not granted.")
    /// when recording is not allowed. Throws the capture's error when it
    /// cannot start (recording is then off again). A failed pass is logged
    /// ("Error: <description>") and ends the loop and the capture.
    void startStreamTranscription();
    /// Ends the loop and the capture; callable from any thread, the state
    /// callback included.
    void stopStreamTranscription();

    State state() const;

    /// Whether the decoder should stop the current window: false when the
    /// last `compressionCheckWindow` tokens compress above the options'
    /// threshold (no check without a threshold or a window) or the average
    /// log-probability is below the options' threshold; nothing otherwise.
    static std::optional<bool> shouldStopEarly(const TranscriptionProgress& progress,
                                               const DecodingOptions& options,
                                               int64_t compressionCheckWindow);

private:
    struct Liveness;

    /// Applies `change` to the state on the queue and reports it.
    void change(const std::function<void(State&)>& change);
    bool permitted() const;
    void onAudioBufferCallback();
    void onProgressCallback(const TranscriptionProgress& progress);
    void transcribeCurrentBuffer();
    TranscriptionResult transcribeAudioSamples(const std::vector<float>& samples);
    void waitATenth();

    std::shared_ptr<TranscribeTask> transcribeTask_;
    std::shared_ptr<AudioProcessing> audioProcessor_;
    DecodingOptions decodingOptions_;
    int64_t requiredSegmentsForConfirmation_;
    float silenceThreshold_;
    int64_t compressionCheckWindow_;
    bool useVAD_;
    StateChangeCallback stateChangeCallback_;

    mutable std::mutex stateMutex_; // for reads of the state off the queue
    State state_;
    std::mutex waitMutex_;
    std::condition_variable wake_;
    // Lets capture and progress callbacks that outlive the transcriber find
    // out that it is gone.
    std::shared_ptr<Liveness> liveness_;
    // Destroyed first: the jobs still queued run while everything else lives.
    platform::system::SerialQueue queue_;
};

} // namespace murmex
