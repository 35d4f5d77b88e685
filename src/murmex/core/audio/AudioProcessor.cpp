#include "murmex/core/audio/AudioProcessor.h"

#include "murmex/base/Constants.h"
#include "murmex/base/WhisperError.h"
#include "platform/audio/AudioFileReader.h"
#include "platform/audio/AudioReadError.h"
#include "platform/audio/MonoMix.h"
#include "platform/system/SystemError.h"
#include "platform/system/WorkerGroup.h"
#include "tessary_core/Logging.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fmt/format.h>
#include <limits>
#include <thread>

namespace murmex {

namespace {

using platform::audio::AudioFileReader;
using platform::audio::AudioFormat;
using platform::audio::AudioReadError;
using platform::audio::MonoMix;
using platform::system::SystemError;
using tessary::Logging;
using PcmBuffer = AudioProcessor::PcmBuffer;
using PcmBufferRef = AudioProcessor::PcmBufferRef;
using ChannelMode = AudioProcessor::ChannelMode;

constexpr double targetSampleRate = Constants::sampleRate;

PcmBufferRef makeBuffer(const AudioFormat& format, uint32_t capacity) {
    auto buffer = PcmBuffer::make(format, capacity);
    if (!buffer) return nullptr;
    return std::make_shared<PcmBuffer>(std::move(*buffer));
}

/// A frame count as a 32-bit count, or nothing when it does not fit.
std::optional<uint32_t> frameCount32(double frames) {
    if (!(frames >= 0.0) || frames > double(std::numeric_limits<uint32_t>::max()))
        return std::nullopt;
    return uint32_t(frames);
}

MonoMix monoMix(const ChannelMode& mode) {
    if (mode.kind() == ChannelMode::Kind::specificChannel) return MonoMix::channel(mode.channel());
    return MonoMix::sum(mode.channels());
}

void requireFile(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::exists(path, error))
        throw WhisperError::loadAudioFailed("Resource path does not exist " + path);
}

std::unique_ptr<platform::audio::AudioFile> openFile(const std::string& path) {
    try {
        return platform::audio::AudioFile::open(path);
    } catch (const SystemError& error) {
        throw WhisperError::loadAudioFailed(error.what());
    }
}

/// The reader's steps as debug lines of the engine log.
class ReadLog : public AudioFileReader::Observer {
public:
    void conversionStarting(int64_t frames, double rate) override {
        if (!Logging::isEnabled(Logging::LogLevel::debug)) return;
        Logging::debug(fmt::format("Resampling {:.2f} seconds of audio", double(frames) / rate));
    }
    void pieceReading(int64_t from, int64_t to, double rate) override {
        if (!Logging::isEnabled(Logging::LogLevel::debug)) return;
        Logging::debug(
            fmt::format("Resampling {:.2f}s - {:.2f}s", double(from) / rate, double(to) / rate));
    }
};

/// A reader of `file` as 16 kHz mono that logs its steps.
struct LoggedReader {
    ReadLog log;
    AudioFileReader reader;
    LoggedReader(platform::audio::AudioFile& file, const ChannelMode& mode)
        : reader(file, targetSampleRate, monoMix(mode), &log) {
        if (monoMix(mode).fallsBackToFirstChannel(file.channelCount()))
            Logging::debug("No valid channel indices provided, defaulting to first channel");
    }
};

/// Reads the time range of the file as 16 kHz mono and appends the samples
/// to `samples`; returns how many. Throws WhisperError::loadAudioFailed.
uint32_t appendRange(platform::audio::AudioFile& file, AudioFileReader& reader,
                     std::optional<double> startTime, std::optional<double> endTime,
                     std::optional<uint32_t> maxReadFrameSize, bool endOfStream,
                     std::vector<float>& samples) {
    uint32_t appended = 0;
    try {
        appended =
            reader.appendRange(startTime, endTime, endOfStream, samples,
                               maxReadFrameSize.value_or(Constants::defaultAudioReadFrameSize));
    } catch (const AudioReadError& error) {
        throw WhisperError::loadAudioFailed(error.what());
    }
    if (Logging::isEnabled(Logging::LogLevel::debug)) {
        const double rate = file.sampleRate();
        const int64_t length = file.length();
        Logging::debug(Logging::Separator{""}, "Audio source details - Sample Rate: ", rate,
                       " Hz, Channel Count: ", file.channelCount(), ", Frame Length: ", length,
                       ", Duration: ", double(length) / rate, "s");
        Logging::debug(Logging::Separator{""},
                       "Audio buffer details - Sample Rate: ", targetSampleRate,
                       " Hz, Channel Count: ", 1, ", Frame Length: ", appended,
                       ", Duration: ", double(appended) / targetSampleRate, "s");
        Logging::logCurrentMemoryUsage("After loadAudio function");
    }
    return appended;
}

} // namespace

std::optional<AudioProcessorOutputType>
AudioProcessor::padOrTrim(std::span<const float> audioArray, int64_t startAt, int64_t toLength) {
    auto window = padOrTrimAudio(audioArray, startAt, toLength);
    if (!window) return std::nullopt;
    return AudioProcessorOutputType(std::move(*window));
}

AudioProcessor::PcmBufferRef AudioProcessor::loadAudio(const std::string& path,
                                                       const ChannelMode& channelMode,
                                                       std::optional<double> startTime,
                                                       std::optional<double> endTime,
                                                       std::optional<uint32_t> maxReadFrameSize) {
    requireFile(path);
    auto file = openFile(path);
    return loadAudio(*file, channelMode, startTime, endTime, maxReadFrameSize);
}

AudioProcessor::PcmBufferRef AudioProcessor::loadAudio(AudioFile& file,
                                                       const ChannelMode& channelMode,
                                                       std::optional<double> startTime,
                                                       std::optional<double> endTime,
                                                       std::optional<uint32_t> maxReadFrameSize) {
    LoggedReader reader(file, channelMode);
    std::vector<float> samples;
    appendRange(file, reader.reader, startTime, endTime, maxReadFrameSize, true, samples);
    PcmBufferRef buffer =
        makeBuffer(*AudioFormat::standard(targetSampleRate, 1), uint32_t(samples.size()));
    if (!buffer) throw WhisperError::loadAudioFailed("Unable to create audio buffer");
    std::copy(samples.begin(), samples.end(), buffer->channel(0));
    buffer->setFrameLength(uint32_t(samples.size()));
    return buffer;
}

AudioProcessor::PcmBufferRef AudioProcessor::resampleAudio(AudioFile& file, double toSampleRate,
                                                           uint32_t channelCount,
                                                           const ChannelMode& channelMode,
                                                           std::optional<int64_t> frameCount,
                                                           uint32_t maxReadFrameSize) {
    const auto outputFormat = AudioFormat::standard(toSampleRate, channelCount);
    if (!outputFormat) {
        Logging::error("Failed to create output audio format");
        return nullptr;
    }
    LoggedReader reader(file, channelMode);
    try {
        return std::make_shared<PcmBuffer>(
            reader.reader.convert(*outputFormat, frameCount, maxReadFrameSize));
    } catch (const AudioReadError& error) {
        Logging::error(error.what());
        return nullptr;
    }
}

AudioProcessor::PcmBufferRef
AudioProcessor::resampleAudio(const PcmBuffer& buffer, double toSampleRate, uint32_t channelCount) {
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
            for (uint32_t c = 0; c < channelCount; ++c)
                result[c] = converted->channel(c) + converted->frameLength();
            return result;
        }();
        const int64_t tail =
            converter->flush(planes.data(), converted->frameCapacity() - converted->frameLength());
        if (tail < 0)
            throw WhisperError::audioProcessingFailed("Error converting audio: " +
                                                      AudioConverter::errorText(tail));
        converted->setFrameLength(converted->frameLength() + uint32_t(tail));
        return converted;
    } catch (const WhisperError& error) {
        Logging::error("Failed to resample buffer:", error.message());
        return nullptr;
    }
}

AudioProcessor::PcmBufferRef AudioProcessor::resampleBuffer(const PcmBuffer& buffer,
                                                            AudioConverter& converter) {
    const double inputRate = converter.inputFormat().sampleRate();
    const double outputRate = converter.outputFormat().sampleRate();
    double capacity = outputRate * double(buffer.frameLength()) / inputRate;
    if (buffer.frameLength() == 0) {
        // The end of the stream: room for what the converter still holds.
        capacity = double(converter.pendingOutputFrames());
    } else if (capacity != std::floor(capacity)) {
        const double rounded = std::max(std::nearbyint(capacity), 1.0);
        Logging::debug(Logging::Separator{""}, "Rounding buffer frame capacity from ", capacity,
                       " to ", rounded, " to better fit new sample rate");
        capacity = rounded;
    }
    const auto frames = frameCount32(capacity);
    PcmBufferRef converted = frames ? makeBuffer(converter.outputFormat(), *frames) : nullptr;
    if (!converted) throw WhisperError::audioProcessingFailed("Failed to create converted buffer");
    // Each frame goes to the converter exactly once; an empty buffer is the
    // end of the stream and brings out what the converter still holds.
    const int64_t written = converter.convert(buffer, *converted, buffer.frameLength() == 0);
    if (written < 0) {
        throw WhisperError::audioProcessingFailed("Error converting audio: " +
                                                  AudioConverter::errorText(written));
    }
    return converted;
}

AudioProcessor::PcmBufferRef AudioProcessor::convertToMono(const PcmBufferRef& buffer,
                                                           const ChannelMode& mode) {
    if (!buffer) return nullptr;
    if (buffer->format().channelCount() < 2) return buffer;
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
    const MonoMix mix = monoMix(mode);
    if (mix.fallsBackToFirstChannel(buffer->format().channelCount()))
        Logging::debug("No valid channel indices provided, defaulting to first channel");
    mix.mix(*buffer, *mono);
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

std::vector<float> AudioProcessor::loadAudioAsFloatArray(const std::string& path,
                                                         const ChannelMode& channelMode,
                                                         std::optional<double> startTime,
                                                         std::optional<double> endTime) {
    requireFile(path);
    auto file = openFile(path);
    LoggedReader reader(*file, channelMode);
    double total = 0;
    try {
        AudioFileReader::checkTimes(startTime, endTime);
        total = double(reader.reader.checkedLength()) / file->sampleRate();
    } catch (const AudioReadError& error) {
        throw WhisperError::loadAudioFailed(error.what());
    }
    const double start = startTime.value_or(0.0);
    const double end = std::min(endTime.value_or(total), total);
    if (start >= end) return {};

    std::vector<float> samples;
    try {
        samples.reserve(size_t(std::ceil((end - start) * targetSampleRate)) + 1);
    } catch (const std::exception&) {
        // A stated length beyond memory: the audio really there still loads,
        // stretch by stretch.
    }
    // One reader for all stretches: its converter runs on across them.
    for (double pieceStart = start; pieceStart < end;) {
        const double pieceEnd = std::min(end, pieceStart + floatArrayStretchSeconds);
        appendRange(*file, reader.reader, pieceStart, pieceEnd, std::nullopt, pieceEnd >= end,
                    samples);
        pieceStart = pieceEnd;
    }
    return samples;
}

std::vector<platform::system::Outcome<std::vector<float>>>
AudioProcessor::loadAudioAt(const std::vector<std::string>& paths, const ChannelMode& channelMode) {
    const size_t width =
        std::min<size_t>(paths.size(), std::max(1u, std::thread::hardware_concurrency()));
    platform::system::WorkerGroup group(width);
    return group.map(
        paths, [&](const std::string& path) { return loadAudioAsFloatArray(path, channelMode); });
}

} // namespace murmex
