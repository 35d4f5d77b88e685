#include "murmex/core/audio/AudioProcessor.h"

#include "murmex/core/Constants.h"
#include "murmex/utilities/WhisperError.h"
#include "platform/system/SystemError.h"
#include "platform/system/WorkerGroup.h"
#include "tessary_core/Logging.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <thread>

#include <fmt/format.h>

namespace murmex {

namespace {

using platform::audio::AudioFormat;
using platform::system::SystemError;
using tessary::Logging;
using PcmBuffer = AudioProcessor::PcmBuffer;
using PcmBufferRef = AudioProcessor::PcmBufferRef;
using ChannelMode = AudioProcessor::ChannelMode;

constexpr double targetSampleRate = 16000.0;

PcmBufferRef makeBuffer(const AudioFormat& format, uint32_t capacity) {
    auto buffer = PcmBuffer::make(format, capacity);
    if (!buffer) return nullptr;
    return std::make_shared<PcmBuffer>(std::move(*buffer));
}

/// A frame count as a 32-bit count, or nothing when it does not fit.
std::optional<uint32_t> frameCount32(double frames) {
    if (!(frames >= 0.0) || frames > double(std::numeric_limits<uint32_t>::max())) return std::nullopt;
    return uint32_t(frames);
}

void requireFile(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::exists(path, error)) throw WhisperError::loadAudioFailed("Resource path does not exist " + path);
}

std::unique_ptr<platform::audio::AudioFile> openFile(const std::string& path) {
    try {
        return platform::audio::AudioFile::open(path);
    } catch (const SystemError& error) {
        throw WhisperError::loadAudioFailed(error.what());
    }
}

/// The file's length, which every time range is measured against; it must
/// fit a 32-bit frame count.
int64_t checkedLength(const platform::audio::AudioFile& file) {
    const int64_t length = file.length();
    if (length > int64_t(std::numeric_limits<uint32_t>::max())) {
        throw WhisperError::loadAudioFailed("Audio file is too long: " + std::to_string(length) + " frames in " +
                                            file.path());
    }
    return length;
}

void checkTimes(std::optional<double> startTime, std::optional<double> endTime) {
    if (startTime && !(std::isfinite(*startTime) && *startTime >= 0.0)) {
        throw WhisperError::loadAudioFailed("Invalid start time " + fmt::format("{}", *startTime));
    }
    if (endTime && !(std::isfinite(*endTime) && *endTime >= 0.0)) {
        throw WhisperError::loadAudioFailed("Invalid end time " + fmt::format("{}", *endTime));
    }
}

/// A rate conversion that may go on over several consecutive reads of one
/// file: while each read starts where the previous one stopped, the same
/// converter carries on and the pieces join without a seam.
struct FileConversion {
    std::unique_ptr<AudioProcessor::AudioConverter> converter;
    int64_t nextFrame = -1;  // the file frame the converter expects next
    // Output frames earlier reads fell short of their share (the converter
    // still holds them as its look-ahead); the next read has room for them.
    uint32_t owed = 0;
};

PcmBufferRef resampleRange(platform::audio::AudioFile& file, double toSampleRate, uint32_t channelCount,
                           const ChannelMode& channelMode, std::optional<int64_t> frameCount,
                           uint32_t maxReadFrameSize, FileConversion& conversion, bool endOfStream) {
    const double inputRate = file.sampleRate();
    const int64_t length = file.length();
    const int64_t first = file.framePosition();
    const int64_t frames = std::max<int64_t>(frameCount.value_or(length), 0);
    const int64_t end = std::min(first + frames, length);

    const auto outputFormat = AudioFormat::standard(toSampleRate, channelCount);
    if (!outputFormat) {
        Logging::error("Failed to create output audio format");
        return nullptr;
    }
    Logging::debug("Resampling " + fmt::format("{:.2f}", double(frames) / inputRate) + " seconds of audio");

    const bool continuing = conversion.converter && conversion.nextFrame == first &&
                            conversion.converter->outputFormat() == *outputFormat;
    if (!continuing) conversion = FileConversion();
    const auto capacity =
        frameCount32(std::floor(double(frames) / inputRate * toSampleRate) + double(conversion.owed));
    PcmBufferRef output = capacity ? makeBuffer(*outputFormat, *capacity) : nullptr;
    if (!output) {
        Logging::error("Failed to create output buffer");
        return nullptr;
    }
    maxReadFrameSize = std::max<uint32_t>(maxReadFrameSize, 1);
    PcmBufferRef input = makeBuffer(file.processingFormat(), maxReadFrameSize);
    if (!input) {
        Logging::error("Failed to create input buffer");
        return nullptr;
    }

    const auto monoFormat = AudioFormat::standard(inputRate, 1);
    if (!conversion.converter) {
        conversion.converter = AudioProcessor::AudioConverter::make(*monoFormat, *outputFormat);
        if (!conversion.converter) {
            Logging::error("Failed to create audio converter");
            return nullptr;
        }
    }
    AudioProcessor::AudioConverter& converter = *conversion.converter;
    std::vector<float*> planes(channelCount);
    auto room = [&] {
        for (uint32_t c = 0; c < channelCount; ++c) planes[c] = output->channel(c) + output->frameLength();
        return output->frameCapacity() - output->frameLength();
    };

    while (file.framePosition() < end) {
        const int64_t position = file.framePosition();
        const auto pieceFrames = uint32_t(std::min<int64_t>(maxReadFrameSize, end - position));
        Logging::debug("Resampling " + fmt::format("{:.2f}", double(position) / inputRate) + "s - " +
                       fmt::format("{:.2f}", double(position + pieceFrames) / inputRate) + "s");
        try {
            file.read(*input, pieceFrames);
        } catch (const SystemError& error) {
            Logging::error("Error reading audio file: " + std::string(error.what()));
            return nullptr;
        }
        if (input->frameLength() == 0) break;  // the audio ended before its stated length
        PcmBufferRef mono = AudioProcessor::convertToMono(input, channelMode);
        if (!mono) {
            Logging::error("Failed to process audio channels");
            return nullptr;
        }
        const float* monoPlane[] = {mono->channel(0)};
        const uint32_t space = room();
        const int64_t written = converter.convert(monoPlane, mono->frameLength(), planes.data(), space);
        if (written < 0) {
            Logging::error("Failed to resample audio chunk");
            return nullptr;
        }
        output->setFrameLength(output->frameLength() + uint32_t(written));
        if (input->frameLength() < pieceFrames) break;
    }
    conversion.nextFrame = file.framePosition();
    conversion.owed = output->frameCapacity() - output->frameLength();
    if (endOfStream) {
        // The filter's look-ahead comes out now; anything beyond the capacity
        // computed from the duration is cut.
        const int64_t written = converter.flush(planes.data(), room());
        if (written < 0) {
            Logging::error("Failed to resample audio chunk");
            return nullptr;
        }
        output->setFrameLength(output->frameLength() + uint32_t(written));
        conversion = FileConversion();
    }
    return output;
}

PcmBufferRef loadRange(platform::audio::AudioFile& file, const ChannelMode& channelMode,
                       std::optional<double> startTime, std::optional<double> endTime,
                       std::optional<uint32_t> maxReadFrameSize, FileConversion& conversion, bool endOfStream) {
    checkTimes(startTime, endTime);
    const double rate = file.sampleRate();
    const uint32_t channels = file.channelCount();
    const int64_t length = checkedLength(file);
    // Frames are cut toward zero; both ends are clamped to the file before
    // they become integers, so no time can overflow a frame position.
    const double startFrame = std::trunc(startTime.value_or(0.0) * rate);
    const double endFrame = endTime ? std::min(std::trunc(*endTime * rate), double(length)) : double(length);
    if (endFrame < startFrame) {
        throw WhisperError::loadAudioFailed("Invalid time range " + fmt::format("{}", startTime.value_or(0.0)) +
                                            "s - " + fmt::format("{}", endTime.value_or(double(length) / rate)) +
                                            "s for " + file.path());
    }
    const auto start = int64_t(startFrame);
    const auto end = int64_t(endFrame);
    const auto frames = uint32_t(end - start);
    file.setFramePosition(start);

    PcmBufferRef buffer;
    if (rate == targetSampleRate && channels == 1) {
        buffer = makeBuffer(file.processingFormat(), frames);
        if (!buffer) throw WhisperError::loadAudioFailed("Unable to create audio buffer");
        try {
            file.read(*buffer, frames);
        } catch (const SystemError& error) {
            throw WhisperError::loadAudioFailed("Failed to read audio file: " + std::string(error.what()));
        }
    } else {
        buffer = resampleRange(file, targetSampleRate, 1, channelMode, frames,
                               maxReadFrameSize.value_or(Constants::defaultAudioReadFrameSize), conversion,
                               endOfStream);
        if (!buffer) throw WhisperError::loadAudioFailed("Failed to process audio buffer");
    }

    if (Logging::isEnabled(Logging::LogLevel::debug)) {
        Logging::debug(Logging::Separator{""}, "Audio source details - Sample Rate: ", rate,
                       " Hz, Channel Count: ", channels, ", Frame Length: ", length,
                       ", Duration: ", double(length) / rate, "s");
        const double bufferRate = buffer->format().sampleRate();
        Logging::debug(Logging::Separator{""}, "Audio buffer details - Sample Rate: ", bufferRate,
                       " Hz, Channel Count: ", buffer->format().channelCount(),
                       ", Frame Length: ", buffer->frameLength(),
                       ", Duration: ", double(buffer->frameLength()) / bufferRate, "s");
        Logging::logCurrentMemoryUsage("After loadAudio function");
    }
    return buffer;
}

}  // namespace

AudioProcessor::~AudioProcessor() { stopRecording(); }

std::optional<AudioProcessorOutputType> AudioProcessor::padOrTrim(const std::vector<float>& audioArray,
                                                                  int64_t startAt, int64_t toLength) {
    auto window = padOrTrimAudio(audioArray, startAt, toLength);
    if (!window) return std::nullopt;
    return AudioProcessorOutputType(std::move(*window));
}

void AudioProcessor::stopRecording() {}

AudioProcessor::PcmBufferRef AudioProcessor::loadAudio(const std::string& path, const ChannelMode& channelMode,
                                                       std::optional<double> startTime, std::optional<double> endTime,
                                                       std::optional<uint32_t> maxReadFrameSize) {
    requireFile(path);
    auto file = openFile(path);
    return loadAudio(*file, channelMode, startTime, endTime, maxReadFrameSize);
}

AudioProcessor::PcmBufferRef AudioProcessor::loadAudio(AudioFile& file, const ChannelMode& channelMode,
                                                       std::optional<double> startTime, std::optional<double> endTime,
                                                       std::optional<uint32_t> maxReadFrameSize) {
    FileConversion conversion;
    return loadRange(file, channelMode, startTime, endTime, maxReadFrameSize, conversion, true);
}

AudioProcessor::PcmBufferRef AudioProcessor::resampleAudio(AudioFile& file, double toSampleRate,
                                                           uint32_t channelCount, const ChannelMode& channelMode,
                                                           std::optional<int64_t> frameCount,
                                                           uint32_t maxReadFrameSize) {
    FileConversion conversion;
    return resampleRange(file, toSampleRate, channelCount, channelMode, frameCount, maxReadFrameSize, conversion,
                         true);
}

AudioProcessor::PcmBufferRef AudioProcessor::resampleAudio(const PcmBuffer& buffer, double toSampleRate,
                                                           uint32_t channelCount) {
    const auto outputFormat = AudioFormat::standard(toSampleRate, channelCount);
    if (!outputFormat) {
        Logging::error("Failed to create output audio format");
        return nullptr;
    }
    auto converter = AudioConverter::make(buffer.format(), *outputFormat);
    if (!converter) {
        Logging::error("Failed to create audio converter");
        return nullptr;
    }
    try {
        PcmBufferRef converted = resampleBuffer(buffer, *converter);
        // A one-off conversion ends its stream: the filter's look-ahead is
        // added, up to the capacity.
        const std::vector<float*> planes = [&] {
            std::vector<float*> result(channelCount);
            for (uint32_t c = 0; c < channelCount; ++c) result[c] = converted->channel(c) + converted->frameLength();
            return result;
        }();
        const int64_t tail =
            converter->flush(planes.data(), converted->frameCapacity() - converted->frameLength());
        if (tail < 0) throw WhisperError::audioProcessingFailed("Error converting audio: " + AudioConverter::errorText(tail));
        converted->setFrameLength(converted->frameLength() + uint32_t(tail));
        return converted;
    } catch (const WhisperError& error) {
        Logging::error("Failed to resample buffer: " + error.message());
        return nullptr;
    }
}

AudioProcessor::PcmBufferRef AudioProcessor::resampleBuffer(const PcmBuffer& buffer, AudioConverter& converter) {
    const double inputRate = converter.inputFormat().sampleRate();
    const double outputRate = converter.outputFormat().sampleRate();
    double capacity = outputRate * double(buffer.frameLength()) / inputRate;
    if (buffer.frameLength() == 0) {
        // The end of the stream: room for what the converter still holds.
        capacity = double(converter.pendingOutputFrames());
    } else if (capacity != std::floor(capacity)) {
        const double rounded = std::max(std::nearbyint(capacity), 1.0);
        Logging::debug(Logging::Separator{""}, "Rounding buffer frame capacity from ", capacity, " to ", rounded,
                       " to better fit new sample rate");
        capacity = rounded;
    }
    const auto frames = frameCount32(capacity);
    PcmBufferRef converted = frames ? makeBuffer(converter.outputFormat(), *frames) : nullptr;
    if (!converted) throw WhisperError::audioProcessingFailed("Failed to create converted buffer");
    // Each frame goes to the converter exactly once; an empty buffer is the
    // end of the stream and brings out what the converter still holds.
    const int64_t written = converter.convert(buffer, *converted, buffer.frameLength() == 0);
    if (written < 0) {
        throw WhisperError::audioProcessingFailed("Error converting audio: " + AudioConverter::errorText(written));
    }
    return converted;
}

AudioProcessor::PcmBufferRef AudioProcessor::convertToMono(const PcmBufferRef& buffer, const ChannelMode& mode) {
    if (!buffer) return nullptr;
    const uint32_t channels = buffer->format().channelCount();
    if (channels < 2) return buffer;
    const auto monoFormat = AudioFormat::standard(buffer->format().sampleRate(), 1);
    if (!monoFormat) {
        Logging::error("Failed to create AVAudioFormat object.");
        return nullptr;
    }
    PcmBufferRef mono = makeBuffer(*monoFormat, buffer->frameCapacity());
    if (!mono) {
        Logging::error("Failed to create mono buffer.");
        return nullptr;
    }
    const uint32_t frames = buffer->frameLength();
    mono->setFrameLength(frames);
    float* out = mono->channel(0);
    std::fill(out, out + frames, 0.0f);

    auto copyChannel = [&](uint32_t channel) {
        const float* in = buffer->channel(channel);
        std::copy(in, in + frames, out);
    };
    if (mode.kind() == ChannelMode::Kind::specificChannel) {
        const int index = mode.channel();
        copyChannel(index >= 0 && uint32_t(index) < channels ? uint32_t(index) : 0);
        return mono;
    }

    std::vector<uint32_t> chosen;
    const auto& list = mode.channels();
    if (!list || list->empty()) {
        for (uint32_t c = 0; c < channels; ++c) chosen.push_back(c);
    } else {
        for (int index : *list) {
            if (index >= 0 && uint32_t(index) < channels) chosen.push_back(uint32_t(index));
        }
        if (chosen.empty()) {
            copyChannel(0);
            Logging::debug("No valid channel indices provided, defaulting to first channel");
            return mono;
        }
    }
    auto peakOf = [frames](const float* samples) {
        float peak = 0.0f;
        for (uint32_t i = 0; i < frames; ++i) peak = std::max(peak, std::fabs(samples[i]));
        return peak;
    };
    float loudest = 0.0f;
    for (uint32_t channel : chosen) {
        const float* in = buffer->channel(channel);
        loudest = std::max(loudest, peakOf(in));
        for (uint32_t i = 0; i < frames; ++i) out[i] += in[i];
    }
    // Rescale the sum to the loudest channel's peak, so that summing never
    // clips and identical channels come back unchanged; a silent sum stays
    // silent.
    const float scale = loudest / std::max(peakOf(out), 0.0001f);
    for (uint32_t i = 0; i < frames; ++i) out[i] *= scale;
    return mono;
}

std::vector<float> AudioProcessor::convertBufferToArray(PcmBuffer& buffer, int chunkSize) {
    const uint32_t frames = buffer.frameLength();
    std::vector<float> samples;
    samples.reserve(frames);
    float* channel = buffer.channel(0);
    const uint32_t piece = chunkSize >= 1 ? uint32_t(chunkSize) : std::max<uint32_t>(frames, 1);
    for (uint32_t at = 0; at < frames; at += piece) {
        const uint32_t count = std::min(piece, frames - at);
        samples.insert(samples.end(), channel + at, channel + at + count);
        std::fill(channel + at, channel + at + count, 0.0f);
    }
    return samples;
}

std::vector<float> AudioProcessor::loadAudioAsFloatArray(const std::string& path, const ChannelMode& channelMode,
                                                         std::optional<double> startTime,
                                                         std::optional<double> endTime) {
    requireFile(path);
    auto file = openFile(path);
    checkTimes(startTime, endTime);
    const double total = double(checkedLength(*file)) / file->sampleRate();
    const double start = startTime.value_or(0.0);
    const double end = std::min(endTime.value_or(total), total);
    if (start >= end) return {};

    std::vector<float> samples;
    samples.reserve(size_t(std::ceil((end - start) * targetSampleRate)) + 1);
    FileConversion conversion;
    for (double pieceStart = start; pieceStart < end;) {
        const double pieceEnd = std::min(end, pieceStart + floatArrayStretchSeconds);
        PcmBufferRef piece = loadRange(*file, channelMode, pieceStart, pieceEnd, std::nullopt, conversion,
                                       pieceEnd >= end);
        std::vector<float> pieceSamples = convertBufferToArray(*piece, 1024);
        samples.insert(samples.end(), pieceSamples.begin(), pieceSamples.end());
        pieceStart = pieceEnd;
    }
    return samples;
}

std::vector<platform::system::Outcome<std::vector<float>>> AudioProcessor::loadAudioAt(
    const std::vector<std::string>& paths, const ChannelMode& channelMode) {
    const size_t width = std::min<size_t>(paths.size(), std::max(1u, std::thread::hardware_concurrency()));
    platform::system::WorkerGroup group(width);
    return group.map(paths, [&](const std::string& path) { return loadAudioAsFloatArray(path, channelMode); });
}

}  // namespace murmex
