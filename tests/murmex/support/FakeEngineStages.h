#pragma once
// Scripted stand-ins for the engine's stages, for tests of the window loop
// and the engine object without any model. The audio processor hands the
// window's slice on as it is; the encoder turns it into a one-element array
// holding the slice's first sample, so with samples that count up from 0 the
// decoder and the seeker know which window they are looking at. Every stage
// records what it was asked, under a lock, so concurrent runs can share them.

#include "murmex/core/AudioEncoding.h"
#include "murmex/core/FeatureExtracting.h"
#include "murmex/core/TextDecoding.h"
#include "murmex/core/audio/AudioProcessing.h"
#include "murmex/core/text/GreedyTokenSampler.h"
#include "murmex/core/text/SegmentSeeking.h"

#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace murmex::testing {

/// 0, 1, 2, ... so that a window's first sample is its seek.
inline std::vector<float> countingSamples(int64_t count) {
    std::vector<float> samples(static_cast<size_t>(count));
    for (int64_t i = 0; i < count; ++i)
        samples[static_cast<size_t>(i)] = static_cast<float>(i);
    return samples;
}

/// What the fake audio processor hands on: the window's own samples.
struct FakeWindow {
    std::vector<float> samples;
    int64_t length = 0;
};

class FakeAudioProcessor : public AudioProcessing {
public:
    struct Call {
        int64_t sliceSize;
        float firstSample;
        float lastSample;
        int64_t toLength;
    };
    std::optional<AudioProcessorOutputType> padOrTrim(std::span<const float> audioArray,
                                                      int64_t startAt, int64_t toLength) override {
        if (onPadOrTrim) onPadOrTrim();
        std::lock_guard lock(mutex);
        calls.push_back({static_cast<int64_t>(audioArray.size()),
                         audioArray.empty() ? -1.f : audioArray.front(),
                         audioArray.empty() ? -1.f : audioArray.back(), toLength});
        if (startAt != 0 || audioArray.empty()) return std::nullopt;
        return AudioProcessorOutputType(
            FakeWindow{{audioArray.begin(), audioArray.end()}, toLength});
    }
    // Captures nothing.
    std::vector<float> audioSamples() const override { return {}; }
    void purgeAudioSamples(int64_t) override {}
    std::vector<float> relativeEnergy() const override { return {}; }
    int relativeEnergyWindow() const override { return 20; }
    void setRelativeEnergyWindow(int) override {}
    void startRecordingLive(std::optional<DeviceID>, AudioBufferCallback) override {}
    std::pair<AudioSampleStream, AudioSampleStream::Continuation>
    startStreamingRecordingLive(std::optional<DeviceID>) override {
        return AudioSampleStream::make();
    }
    void pauseRecording() override {}
    void stopRecording() override {}
    void resumeRecordingLive(std::optional<DeviceID>, AudioBufferCallback) override {}

    std::function<void()> onPadOrTrim;
    std::mutex mutex;
    std::vector<Call> calls;
};

class FakeFeatureExtractor : public FeatureExtracting {
public:
    std::optional<int> melCount() const override { return 80; }
    std::optional<int> windowSamples() const override { return window; }
    std::optional<FeatureExtractorOutputType>
    logMelSpectrogram(const AudioProcessorOutputType& audio) override {
        if (onMel) onMel();
        std::lock_guard lock(mutex);
        ++calls;
        return audio;
    }
    std::optional<int> window; // absent: the engine's 480,000
    std::function<void()> onMel;
    std::mutex mutex;
    int calls = 0;
};

class FakeAudioEncoder : public AudioEncoding {
public:
    std::optional<int> embedSize() const override { return width; }
    std::optional<AudioEncoderOutputType>
    encodeFeatures(const FeatureExtractorOutputType& features) override {
        if (onEncode) onEncode();
        {
            std::lock_guard lock(mutex);
            ++calls;
        }
        const auto& window = std::any_cast<const FakeWindow&>(features);
        platform::ml::MultiArray out({1}, platform::ml::ElementType::float32);
        out.setValue(0, window.samples.empty() ? -1.0 : window.samples.front());
        return AudioEncoderOutputType(out);
    }
    std::optional<int> width = 384;
    std::function<void()> onEncode;
    std::mutex mutex;
    int calls = 0;
};

class FakeTextDecoder : public TextDecoding {
public:
    struct Try {
        int64_t seek; ///< the window's first sample
        float temperature;
        int cacheLengthAtStart; ///< where the inputs put the decoder
        std::optional<std::string> language;
    };
    /// Answers one try: the window's seek and the try's temperature.
    using Script = std::function<DecodingResult(int64_t seek, float temperature)>;

    std::shared_ptr<WhisperTokenizer> tokenizer() const override { return tokenizer_; }
    void setTokenizer(std::shared_ptr<WhisperTokenizer> tokenizer) override {
        tokenizer_ = std::move(tokenizer);
    }
    std::shared_ptr<WhisperMLModel> prefillData() const override { return nullptr; }
    void setPrefillData(std::shared_ptr<WhisperMLModel>) override {}
    bool isModelMultilingual() const override { return multilingual; }
    void setIsModelMultilingual(bool value) override { multilingual = value; }
    std::optional<LogitsFilterList> logitsFilters() const override { return filters; }
    void setLogitsFilters(std::optional<LogitsFilterList> value) override {
        filters = std::move(value);
    }
    bool supportsWordTimestamps() const override { return false; }
    std::optional<int> logitsSize() const override { return logits; }
    std::optional<int> kvCacheEmbedDim() const override { return 2; }
    std::optional<int> kvCacheMaxSequenceLength() const override { return 16; }
    std::optional<int> windowSize() const override { return 4; }
    std::optional<int> embedSize() const override { return 2; }
    std::optional<TextDecoderMLMultiArrayOutputType>
    predictLogits(const TextDecoderMLMultiArrayInputType&) override {
        return std::nullopt;
    }

    DecodingResult decodeText(const platform::ml::MultiArray& encoderOutput, DecodingInputs& inputs,
                              TokenSampling& sampler, const DecodingOptions& options,
                              const DecodingCallback& callback) override {
        const auto seek = static_cast<int64_t>(encoderOutput.value(0));
        const auto* greedy = dynamic_cast<const GreedyTokenSampler*>(&sampler);
        const float temperature = greedy ? static_cast<float>(greedy->temperature) : -1.f;
        {
            std::lock_guard lock(mutex);
            tries.push_back({seek, temperature, static_cast<int>(inputs.cacheLength.value(0)),
                             options.language});
        }
        if (onDecode) onDecode(seek);
        if (callback) {
            TranscriptionProgress progress;
            progress.text = "partial";
            callback(progress);
        }
        // Decoding moves the cache on; the loop must put it back before the
        // next window or retry.
        inputs.cacheLength.setValue(0, inputs.cacheLength.value(0) + 5);
        DecodingResult result = script ? script(seek, temperature) : DecodingResult{};
        result.temperature = temperature;
        return result;
    }

    DecodingResult detectLanguage(const platform::ml::MultiArray&, DecodingInputs&, TokenSampling&,
                                  const DecodingOptions&,
                                  platform::system::Float16 temperature) override {
        std::lock_guard lock(mutex);
        languageTemperatures.push_back(static_cast<float>(temperature));
        if (!detectedLanguage) throw std::runtime_error("no language");
        DecodingResult result;
        result.language = *detectedLanguage;
        return result;
    }

    std::vector<Try> triesSnapshot() {
        std::lock_guard lock(mutex);
        return tries;
    }

    Script script;
    std::function<void(int64_t seek)> onDecode;
    bool multilingual = true;
    std::optional<int> logits = 51865;
    std::optional<LogitsFilterList> filters;
    std::optional<std::string> detectedLanguage;
    std::mutex mutex;
    std::vector<Try> tries;
    std::vector<float> languageTemperatures;

private:
    std::shared_ptr<WhisperTokenizer> tokenizer_;
};

class FakeSegmentSeeker : public SegmentSeeking {
public:
    struct Call {
        int seek;
        int segmentSize;
    };
    /// Answers (new seek, segments) for a window; the default moves to the
    /// window's end with one segment holding the token 1.
    using Script = std::function<std::pair<int, std::optional<std::vector<TranscriptionSegment>>>(
        int seek, int segmentSize)>;

    std::pair<int, std::optional<std::vector<TranscriptionSegment>>>
    findSeekPointAndSegments(const DecodingResult&, const DecodingOptions&, int, int currentSeek,
                             int segmentSize, int, int, int, const WhisperTokenizer&) override {
        {
            std::lock_guard lock(mutex);
            calls.push_back({currentSeek, segmentSize});
        }
        if (script) return script(currentSeek, segmentSize);
        return {currentSeek + segmentSize,
                std::vector<TranscriptionSegment>{segmentAt(currentSeek, segmentSize)}};
    }

    std::optional<std::vector<TranscriptionSegment>>
    addWordTimestamps(const std::vector<TranscriptionSegment>& segments,
                      const platform::ml::MultiArray&, const WhisperTokenizer&, int, int,
                      const std::string&, const std::string&, float, const DecodingOptions&,
                      const TranscriptionTimings&) override {
        return segments;
    }

    /// One segment covering the window, its token 1 (" world" in the small
    /// scripted tokenizer).
    static TranscriptionSegment segmentAt(int seek, int segmentSize) {
        TranscriptionSegment segment;
        segment.seek = seek;
        segment.start = static_cast<float>(seek) / 16000.f;
        segment.end = static_cast<float>(seek + segmentSize) / 16000.f;
        segment.text = " world";
        segment.tokens = {1};
        return segment;
    }

    std::vector<Call> callsSnapshot() {
        std::lock_guard lock(mutex);
        return calls;
    }

    Script script;
    std::mutex mutex;
    std::vector<Call> calls;
};

} // namespace murmex::testing
