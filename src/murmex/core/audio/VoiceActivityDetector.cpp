#include "murmex/core/audio/VoiceActivityDetector.h"

#include "murmex/base/WhisperError.h"

#include <algorithm>
#include <limits>
#include <string>

namespace murmex {

VoiceActivityDetector::VoiceActivityDetector(int64_t sampleRate, int64_t frameLengthSamples,
                                             int64_t frameOverlapSamples)
    : sampleRate_(sampleRate), frameLengthSamples_(frameLengthSamples),
      frameOverlapSamples_(frameOverlapSamples) {
    if (sampleRate <= 0) {
        throw WhisperError::initializationError(
            "Voice activity sample rate must be positive, got " + std::to_string(sampleRate));
    }
    if (frameLengthSamples <= 0) {
        throw WhisperError::initializationError(
            "Voice activity frame length must be positive, got " +
            std::to_string(frameLengthSamples));
    }
    if (frameOverlapSamples < 0) {
        throw WhisperError::initializationError(
            "Voice activity frame overlap must not be negative, got " +
            std::to_string(frameOverlapSamples));
    }
}

std::vector<bool> VoiceActivityDetector::voiceActivityAsync(std::span<const float> waveform) const {
    return voiceActivity(waveform);
}

std::vector<IndexRange>
VoiceActivityDetector::calculateActiveChunks(std::span<const float> waveform) const {
    const std::vector<bool> decisions = voiceActivity(waveform);
    const auto total = int64_t(waveform.size());
    std::vector<IndexRange> chunks;
    bool inSpeech = false;
    for (size_t i = 0; i < decisions.size(); ++i) {
        if (!decisions[i]) {
            inSpeech = false;
            continue;
        }
        const int64_t start = voiceActivityIndexToAudioSampleIndex(int64_t(i));
        const int64_t end = std::min(total, start + frameLengthSamples_);
        if (inSpeech) {
            chunks.back().endIndex = end;
        } else {
            chunks.push_back({start, end});
        }
        inSpeech = true;
    }
    return chunks;
}

int64_t VoiceActivityDetector::voiceActivityIndexToAudioSampleIndex(int64_t index) const {
    // Indices whose sample would not fit stop at the largest sample index.
    if (index > std::numeric_limits<int64_t>::max() / frameLengthSamples_)
        return std::numeric_limits<int64_t>::max();
    if (index < std::numeric_limits<int64_t>::min() / frameLengthSamples_)
        return std::numeric_limits<int64_t>::min();
    return index * frameLengthSamples_;
}

float VoiceActivityDetector::voiceActivityIndexToSeconds(int64_t index) const {
    return float(voiceActivityIndexToAudioSampleIndex(index)) / float(sampleRate_);
}

std::optional<IndexRange>
VoiceActivityDetector::findLongestSilence(const std::vector<bool>& vadResult) const {
    std::optional<IndexRange> longest;
    const auto count = int64_t(vadResult.size());
    for (int64_t i = 0; i < count;) {
        if (vadResult[size_t(i)]) {
            ++i;
            continue;
        }
        int64_t end = i;
        while (end < count && !vadResult[size_t(end)])
            ++end;
        if (!longest || end - i > longest->endIndex - longest->startIndex) longest = {i, end};
        i = end;
    }
    return longest;
}

std::vector<float>
VoiceActivityDetector::voiceActivityClipTimestamps(std::span<const float> waveform) const {
    std::vector<float> timestamps;
    for (const SeekTimestamp& stretch : calculateSeekTimestamps(waveform)) {
        timestamps.push_back(stretch.startTime);
        timestamps.push_back(stretch.endTime);
    }
    return timestamps;
}

std::vector<SeekClip>
VoiceActivityDetector::calculateNonSilentSeekClips(std::span<const float> waveform) const {
    std::vector<SeekClip> clips;
    for (const IndexRange& chunk : calculateActiveChunks(waveform))
        clips.push_back({chunk.startIndex, chunk.endIndex});
    return clips;
}

std::vector<SeekTimestamp>
VoiceActivityDetector::calculateSeekTimestamps(std::span<const float> waveform) const {
    std::vector<SeekTimestamp> timestamps;
    for (const SeekClip& clip : calculateNonSilentSeekClips(waveform)) {
        timestamps.push_back(
            {float(clip.start) / float(sampleRate_), float(clip.end) / float(sampleRate_)});
    }
    return timestamps;
}

} // namespace murmex
