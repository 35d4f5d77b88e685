#pragma once
// Runs the whole speech pipeline over one list of 16 kHz mono samples: cuts
// it into 30-second windows, and for each window pads or trims the audio,
// computes the log-mel spectrogram, encodes it, decodes text with temperature
// fallback, cuts the tokens into segments and finds the next window start.
// The stages are the engine's own components, shared, never copied.

#include "murmex/core/AudioEncoding.h"
#include "murmex/core/FeatureExtracting.h"
#include "murmex/core/TextDecoding.h"
#include "murmex/core/WhisperTokenizer.h"
#include "murmex/core/audio/AudioProcessing.h"
#include "murmex/core/text/SegmentSeeking.h"
#include "murmex/records/DecodingOptions.h"
#include "murmex/records/DecodingResult.h"
#include "murmex/records/TranscriptionResult.h"
#include "murmex/records/TranscriptionTimings.h"
#include "platform/system/Float16.h"
#include "platform/system/Progress.h"

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace murmex {

using SegmentDiscoveryCallback = std::function<void(const std::vector<TranscriptionSegment>&)>;

class TranscribeTask : public std::enable_shared_from_this<TranscribeTask> {
public:
    TranscribeTask(TranscriptionTimings currentTimings,
                   std::shared_ptr<platform::system::Progress> progress,
                   std::shared_ptr<AudioProcessing> audioProcessor,
                   std::shared_ptr<AudioEncoding> audioEncoder,
                   std::shared_ptr<FeatureExtracting> featureExtractor,
                   std::shared_ptr<SegmentSeeking> segmentSeeker,
                   std::shared_ptr<TextDecoding> textDecoder,
                   std::shared_ptr<WhisperTokenizer> tokenizer);
    virtual ~TranscribeTask() = default;

    /// Transcribes the samples and returns one result whose segment times are
    /// seconds from the start of the samples. Throws WhisperError, the stages'
    /// errors, or platform::system::CancellationError.
    virtual TranscriptionResult
    run(const std::vector<float>& audioArray,
        const std::optional<DecodingOptions>& decodeOptions = std::nullopt,
        const DecodingCallback& callback = {});

    /// Called with every padded window before its mel stage; does nothing by default.
    virtual void windowPreprocess(const AudioProcessorOutputType& window, int64_t seek,
                                  int64_t segmentSize);
    /// Called with every window's segments; returns them unchanged by default.
    virtual std::vector<TranscriptionSegment>
    windowPostProcess(int64_t seek, int64_t segmentSize,
                      std::vector<TranscriptionSegment> originalSegments);
    /// The result of a run: the text tokens decoded and trimmed.
    virtual TranscriptionResult finalizeTranscriptionResult(
        const std::vector<int>& tokens, std::vector<TranscriptionSegment> segments,
        const std::optional<std::string>& language, const TranscriptionTimings& timings);

    const TranscriptionTimings& timings() const { return timings_; }
    void setTimings(TranscriptionTimings timings) {
        timings_ = std::move(timings);
        windowCount_.store(static_cast<int64_t>(timings_.totalDecodingWindows));
        fallbackCount_.store(static_cast<int64_t>(timings_.totalDecodingFallbacks));
    }
    std::shared_ptr<WhisperTokenizer> tokenizer() const { return tokenizer_; }
    void setTokenizer(std::shared_ptr<WhisperTokenizer> tokenizer) {
        tokenizer_ = std::move(tokenizer);
    }
    const SegmentDiscoveryCallback& segmentDiscoveryCallback() const {
        return segmentDiscoveryCallback_;
    }
    void setSegmentDiscoveryCallback(SegmentDiscoveryCallback callback) {
        segmentDiscoveryCallback_ = std::move(callback);
    }
    const std::shared_ptr<platform::system::Progress>& progress() const { return progress_; }

    /// The half-precision temperatures a window is tried at:
    /// T0 + i * increment for i = 0 ... fallbackCount, all in half precision.
    static std::vector<platform::system::Float16> temperatureLadder(const DecodingOptions& options);

    /// Punctuation attached to the following word (prepend) or the preceding
    /// word (append) when word timings are computed.
    static const std::string& prependPunctuations();
    static const std::string& appendPunctuations();

private:
    struct RunState;

    /// The samples cut from the end of every clip; throws for a negative or
    /// non-finite clip time.
    static int64_t clipSamples(const DecodingOptions& options);
    /// New decoder inputs, prefilled when the options ask for it.
    RunState prepareDecoder(const DecodingOptions& options);
    /// The options' clip ranges kept inside the samples; their length is the
    /// progress total.
    std::vector<std::pair<int64_t, int64_t>> seekClips(const DecodingOptions& options,
                                                       int64_t sampleCount);
    /// Audio -> mel -> encoder for the window of `segmentSize` samples at `seek`.
    AudioEncoderOutputType encodeWindow(const std::vector<float>& audioArray, int64_t seek,
                                        int64_t segmentSize, int64_t windowSamples);
    /// The window's segments with word timings (absent when the seeker finds
    /// none); moves `newSeek` to the end of the last timed word.
    std::optional<std::vector<TranscriptionSegment>>
    addWordTimings(std::optional<std::vector<TranscriptionSegment>> segments,
                   const DecodingCache& cache, int64_t seek, int64_t segmentSize,
                   const DecodingOptions& options, int64_t& newSeek);
    /// Post-processes a window's segments, reports them and adds them to the run.
    void keepWindowSegments(int64_t seek, int64_t segmentSize,
                            std::vector<TranscriptionSegment> segments,
                            const DecodingOptions& options, RunState& state);

    DecodingResult decodeWithFallback(const AudioEncoderOutputType& encoderSegment,
                                      const DecodingOptions& decodingOptions,
                                      const DecodingCallback& callback, RunState& state);
    DecodingCallback windowProgressCallback(const DecodingCallback& callback);
    void countWindow();
    void countFallback();
    std::string promptText(const std::vector<int>& prompt) const;

    TranscriptionTimings timings_;
    std::shared_ptr<platform::system::Progress> progress_;
    std::shared_ptr<AudioEncoding> audioEncoder_;
    std::shared_ptr<FeatureExtracting> featureExtractor_;
    std::shared_ptr<SegmentSeeking> segmentSeeker_;
    std::shared_ptr<TextDecoding> textDecoder_;
    std::shared_ptr<AudioProcessing> audioProcessor_;
    std::shared_ptr<WhisperTokenizer> tokenizer_;
    SegmentDiscoveryCallback segmentDiscoveryCallback_;

    // Mirrors of the window and fallback counters that the progress closure
    // reads while the run may be updating the timing record.
    std::atomic<int64_t> windowCount_{0};
    std::atomic<int64_t> fallbackCount_{0};
};

} // namespace murmex
