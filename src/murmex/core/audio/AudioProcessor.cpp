#include "murmex/core/audio/AudioProcessor.h"

#include "murmex/base/Constants.h"
#include "murmex/base/WhisperError.h"
#include "platform/system/SystemError.h"
#include "platform/system/WorkerGroup.h"
#include "tessary_core/Logging.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <fmt/format.h>
#include <limits>
#include <mutex>
#include <thread>

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
    if (!(frames >= 0.0) || frames > double(std::numeric_limits<uint32_t>::max()))
        return std::nullopt;
    return uint32_t(frames);
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

/// The file's length, which every time range is measured against; it must
/// fit a 32-bit frame count.
int64_t checkedLength(const platform::audio::AudioFile& file) {
    const int64_t length = file.length();
    if (length > int64_t(std::numeric_limits<uint32_t>::max())) {
        throw WhisperError::loadAudioFailed("Audio file is too long: " + std::to_string(length) +
                                            " frames in " + file.path());
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

// Vector routines for whole pieces of audio. Several running maxima keep
// the reductions from waiting on one another.

float peakMagnitude(const float* samples, uint32_t count) {
    float lanes[8] = {};
    uint32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        for (int k = 0; k < 8; ++k)
            lanes[k] = std::max(lanes[k], std::fabs(samples[i + k]));
    }
    for (; i < count; ++i)
        lanes[0] = std::max(lanes[0], std::fabs(samples[i]));
    return *std::max_element(lanes, lanes + 8);
}

/// out = in (first) or out += in (later), returning the peak magnitude of in.
float accumulateWithPeak(float* out, const float* in, uint32_t count, bool first) {
    float lanes[8] = {};
    uint32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        for (int k = 0; k < 8; ++k) {
            out[i + k] = first ? in[i + k] : out[i + k] + in[i + k];
            lanes[k] = std::max(lanes[k], std::fabs(in[i + k]));
        }
    }
    for (; i < count; ++i) {
        out[i] = first ? in[i] : out[i] + in[i];
        lanes[0] = std::max(lanes[0], std::fabs(in[i]));
    }
    return *std::max_element(lanes, lanes + 8);
}

/// Down-mixes a float buffer into `mono` (at least as long) as `mode` says.
void mixToMono(const PcmBuffer& source, PcmBuffer& mono, const ChannelMode& mode) {
    const uint32_t channels = source.format().channelCount();
    const uint32_t frames = std::min(source.frameLength(), mono.frameCapacity());
    mono.setFrameLength(frames);
    float* out = mono.channel(0);
    auto copyChannel = [&](uint32_t channel) {
        const float* in = source.channel(channel);
        std::copy(in, in + frames, out);
    };
    if (mode.kind() == ChannelMode::Kind::specificChannel) {
        const int index = mode.channel();
        copyChannel(index >= 0 && uint32_t(index) < channels ? uint32_t(index) : 0);
        return;
    }
    std::vector<uint32_t> chosen;
    const auto& list = mode.channels();
    if (!list || list->empty()) {
        for (uint32_t c = 0; c < channels; ++c)
            chosen.push_back(c);
    } else {
        for (int index : *list) {
            if (index >= 0 && uint32_t(index) < channels) chosen.push_back(uint32_t(index));
        }
        if (chosen.empty()) {
            copyChannel(0);
            Logging::debug("No valid channel indices provided, defaulting to first channel");
            return;
        }
    }
    float loudest = 0.0f;
    for (size_t k = 0; k < chosen.size(); ++k) {
        loudest =
            std::max(loudest, accumulateWithPeak(out, source.channel(chosen[k]), frames, k == 0));
    }
    // Rescale the sum to the loudest channel's peak, so that summing never
    // clips and identical channels come back unchanged; a silent sum stays
    // silent.
    const float scale = loudest / std::max(peakMagnitude(out, frames), 0.0001f);
    for (uint32_t i = 0; i < frames; ++i)
        out[i] *= scale;
}

/// A rate conversion that may go on over several consecutive reads of one
/// file: while each read starts where the previous one stopped, the same
/// converter carries on and the pieces join without a seam. Its read and
/// down-mix buffers are reused from read to read.
struct FileConversion {
    std::unique_ptr<AudioProcessor::AudioConverter> converter;
    int64_t nextFrame = -1; // the file frame the converter expects next
    // Output frames earlier reads fell short of their share (the converter
    // still holds them as its look-ahead); the next read has room for them.
    uint32_t owed = 0;
    // Two read and down-mix slots: while one piece is converted, the next
    // is read into the other.
    struct Slot {
        PcmBufferRef input;
        PcmBufferRef mono;
    };
    Slot slots[2];
};

/// Where converted frames go: one plane per output channel, with room for
/// `capacity` frames of which `length` are written.
struct OutputPlanes {
    std::vector<float*> planes;
    uint32_t capacity = 0;
    uint32_t length = 0;
};

/// Starts converting `frames` frames from the file's read position to
/// `outputFormat`: logs the duration, sets up (or carries on) the converter
/// and its buffers, and returns the output capacity. Nothing, with an error
/// line, on failure.
std::optional<uint32_t> beginConversion(const platform::audio::AudioFile& file, int64_t frames,
                                        const AudioFormat& outputFormat, uint32_t maxReadFrameSize,
                                        FileConversion& conversion) {
    const double inputRate = file.sampleRate();
    Logging::debug("Resampling " + fmt::format("{:.2f}", double(frames) / inputRate) +
                   " seconds of audio");
    const bool continuing = conversion.converter && conversion.nextFrame == file.framePosition() &&
                            conversion.converter->outputFormat() == outputFormat;
    if (!continuing) conversion.converter.reset(), conversion.owed = 0;
    const auto capacity =
        frameCount32(std::floor(double(frames) / inputRate * outputFormat.sampleRate()) +
                     double(conversion.owed));
    if (!capacity) {
        Logging::error("Failed to create output buffer");
        return std::nullopt;
    }
    for (FileConversion::Slot& slot : conversion.slots) {
        if (slot.input && slot.input->frameCapacity() == maxReadFrameSize &&
            slot.input->format() == file.processingFormat()) {
            continue;
        }
        slot.input = makeBuffer(file.processingFormat(), maxReadFrameSize);
        slot.mono = slot.input;
        if (slot.input && file.channelCount() > 1) {
            slot.mono = makeBuffer(*AudioFormat::standard(inputRate, 1), maxReadFrameSize);
        }
        if (!slot.input || !slot.mono) {
            Logging::error("Failed to create input buffer");
            return std::nullopt;
        }
    }
    if (!conversion.converter) {
        conversion.converter = AudioProcessor::AudioConverter::make(
            *AudioFormat::standard(inputRate, 1), outputFormat);
        if (!conversion.converter) {
            Logging::error("Failed to create audio converter");
            return std::nullopt;
        }
    }
    return capacity;
}

/// Reads the next piece of at most the slot's capacity (not beyond `end`)
/// into the slot and down-mixes it. The number of frames read, 0 at the end
/// of the audio, or nothing (with an error line) when the file cannot be read.
std::optional<uint32_t> readPiece(platform::audio::AudioFile& file, int64_t end,
                                  const ChannelMode& channelMode, FileConversion::Slot& slot) {
    const double inputRate = file.sampleRate();
    const int64_t position = file.framePosition();
    const auto pieceFrames =
        uint32_t(std::min<int64_t>(slot.input->frameCapacity(), end - position));
    Logging::debug("Resampling " + fmt::format("{:.2f}", double(position) / inputRate) + "s - " +
                   fmt::format("{:.2f}", double(position + pieceFrames) / inputRate) + "s");
    try {
        file.read(*slot.input, pieceFrames);
    } catch (const SystemError& error) {
        Logging::error("Error reading audio file: " + std::string(error.what()));
        return std::nullopt;
    }
    if (slot.mono != slot.input) mixToMono(*slot.input, *slot.mono, channelMode);
    return slot.input->frameLength();
}

/// Reads the file from its read position up to frame `end` in pieces of the
/// slots' size, down-mixes each piece and converts it into `out`. Reading
/// runs one piece ahead on a helper thread when there is more than one
/// piece. With `endOfStream` the converter's look-ahead is added and the
/// conversion ends. False, with an error line, on failure.
bool convertPieces(platform::audio::AudioFile& file, int64_t end, const ChannelMode& channelMode,
                   FileConversion& conversion, bool endOfStream, OutputPlanes& out) {
    AudioProcessor::AudioConverter& converter = *conversion.converter;
    auto room = [&] {
        std::vector<float*> planes = out.planes;
        for (float*& plane : planes)
            plane += out.length;
        return planes;
    };
    auto convert = [&](const PcmBuffer& mono) {
        const float* monoPlane[] = {mono.channel(0)};
        const int64_t written = converter.convert(monoPlane, mono.frameLength(), room().data(),
                                                  out.capacity - out.length);
        if (written < 0) {
            Logging::error("Failed to resample audio chunk");
            return false;
        }
        out.length += uint32_t(written);
        return true;
    };

    const uint32_t pieceCapacity = conversion.slots[0].input->frameCapacity();
    if (end - file.framePosition() <= int64_t(pieceCapacity)) {
        if (file.framePosition() < end) {
            const auto read = readPiece(file, end, channelMode, conversion.slots[0]);
            if (!read || (*read > 0 && !convert(*conversion.slots[0].mono))) return false;
        }
    } else {
        // The reader fills slot k while the caller converts slot k ^ 1.
        std::mutex mutex;
        std::condition_variable changed;
        bool full[2] = {false, false};
        bool readerDone = false, readerFailed = false, stop = false;
        std::jthread reader([&] {
            for (int k = 0;; k ^= 1) {
                {
                    std::unique_lock lock(mutex);
                    changed.wait(lock, [&] { return !full[k] || stop; });
                    if (stop) break;
                }
                std::optional<uint32_t> read;
                try {
                    if (file.framePosition() < end)
                        read = readPiece(file, end, channelMode, conversion.slots[k]);
                } catch (const std::exception& error) {
                    Logging::error("Error reading audio file: " + std::string(error.what()));
                }
                std::lock_guard lock(mutex);
                if (!read || *read == 0) {
                    readerFailed = file.framePosition() < end && !read;
                    break;
                }
                full[k] = true;
                changed.notify_all();
                if (*read < pieceCapacity && file.framePosition() < end)
                    break; // the audio ended early
            }
            std::lock_guard lock(mutex);
            readerDone = true;
            changed.notify_all();
        });
        bool converted = true;
        for (int k = 0;; k ^= 1) {
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return full[k] || readerDone; });
                if (!full[k]) break;
            }
            converted = convert(*conversion.slots[k].mono);
            std::lock_guard lock(mutex);
            full[k] = false;
            if (!converted) stop = true;
            changed.notify_all();
            if (!converted) break;
        }
        reader.join();
        if (!converted || readerFailed) return false;
    }
    conversion.nextFrame = file.framePosition();
    conversion.owed = out.capacity - out.length;
    if (endOfStream) {
        // The filter's look-ahead comes out now; anything beyond the capacity
        // computed from the duration is cut.
        const int64_t written = converter.flush(room().data(), out.capacity - out.length);
        if (written < 0) {
            Logging::error("Failed to resample audio chunk");
            return false;
        }
        out.length += uint32_t(written);
        conversion.converter.reset();
        conversion.owed = 0;
    }
    return true;
}

PcmBufferRef resampleRange(platform::audio::AudioFile& file, double toSampleRate,
                           uint32_t channelCount, const ChannelMode& channelMode,
                           std::optional<int64_t> frameCount, uint32_t maxReadFrameSize,
                           FileConversion& conversion, bool endOfStream) {
    const int64_t length = file.length();
    const int64_t frames = std::max<int64_t>(frameCount.value_or(length), 0);
    const int64_t end = std::min(file.framePosition() + frames, length);
    const auto outputFormat = AudioFormat::standard(toSampleRate, channelCount);
    if (!outputFormat) {
        Logging::error("Failed to create output audio format");
        return nullptr;
    }
    const auto capacity = beginConversion(file, frames, *outputFormat,
                                          std::max<uint32_t>(maxReadFrameSize, 1), conversion);
    if (!capacity) return nullptr;
    PcmBufferRef output = makeBuffer(*outputFormat, *capacity);
    if (!output) {
        Logging::error("Failed to create output buffer");
        return nullptr;
    }
    OutputPlanes out{{}, *capacity, 0};
    for (uint32_t c = 0; c < channelCount; ++c)
        out.planes.push_back(output->channel(c));
    if (!convertPieces(file, end, channelMode, conversion, endOfStream, out)) return nullptr;
    output->setFrameLength(out.length);
    return output;
}

/// Reads the time range of the file as 16 kHz mono and appends the samples
/// to `samples`; returns how many. Throws WhisperError::loadAudioFailed.
uint32_t appendRange(platform::audio::AudioFile& file, const ChannelMode& channelMode,
                     std::optional<double> startTime, std::optional<double> endTime,
                     std::optional<uint32_t> maxReadFrameSize, FileConversion& conversion,
                     bool endOfStream, std::vector<float>& samples) {
    checkTimes(startTime, endTime);
    const double rate = file.sampleRate();
    const uint32_t channels = file.channelCount();
    const int64_t length = checkedLength(file);
    // Frames are cut toward zero; both ends are clamped to the file before
    // they become integers, so no time can overflow a frame position.
    const double startFrame = std::trunc(startTime.value_or(0.0) * rate);
    const double endFrame =
        endTime ? std::min(std::trunc(*endTime * rate), double(length)) : double(length);
    if (endFrame < startFrame) {
        throw WhisperError::loadAudioFailed(
            "Invalid time range " + fmt::format("{}", startTime.value_or(0.0)) + "s - " +
            fmt::format("{}", endTime.value_or(double(length) / rate)) + "s for " + file.path());
    }
    const auto start = int64_t(startFrame);
    const auto end = int64_t(endFrame);
    const auto frames = uint32_t(end - start);
    file.setFramePosition(start);

    const size_t before = samples.size();
    if (rate == targetSampleRate && channels == 1) {
        PcmBufferRef buffer = makeBuffer(file.processingFormat(), frames);
        if (!buffer) throw WhisperError::loadAudioFailed("Unable to create audio buffer");
        try {
            file.read(*buffer, frames);
        } catch (const SystemError& error) {
            throw WhisperError::loadAudioFailed("Failed to read audio file: " +
                                                std::string(error.what()));
        }
        samples.insert(samples.end(), buffer->channel(0),
                       buffer->channel(0) + buffer->frameLength());
    } else {
        const auto outputFormat = *AudioFormat::standard(targetSampleRate, 1);
        const auto capacity = beginConversion(
            file, frames, outputFormat,
            maxReadFrameSize.value_or(Constants::defaultAudioReadFrameSize), conversion);
        if (!capacity) throw WhisperError::loadAudioFailed("Failed to process audio buffer");
        // Converted straight into the caller's samples, sized once.
        try {
            samples.resize(before + *capacity);
        } catch (const std::exception&) {
            Logging::error("Failed to create output buffer");
            throw WhisperError::loadAudioFailed("Failed to process audio buffer");
        }
        OutputPlanes out{{samples.data() + before}, *capacity, 0};
        const bool converted = convertPieces(file, end, channelMode, conversion, endOfStream, out);
        samples.resize(before + out.length);
        if (!converted) throw WhisperError::loadAudioFailed("Failed to process audio buffer");
    }
    const auto appended = uint32_t(samples.size() - before);

    if (Logging::isEnabled(Logging::LogLevel::debug)) {
        Logging::debug(Logging::Separator{""}, "Audio source details - Sample Rate: ", rate,
                       " Hz, Channel Count: ", channels, ", Frame Length: ", length,
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

AudioProcessor::~AudioProcessor() {
    stopRecording();
}

std::optional<AudioProcessorOutputType>
AudioProcessor::padOrTrim(const std::vector<float>& audioArray, int64_t startAt, int64_t toLength) {
    auto window = padOrTrimAudio(audioArray, startAt, toLength);
    if (!window) return std::nullopt;
    return AudioProcessorOutputType(std::move(*window));
}

void AudioProcessor::stopRecording() {}

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
    FileConversion conversion;
    std::vector<float> samples;
    appendRange(file, channelMode, startTime, endTime, maxReadFrameSize, conversion, true, samples);
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
    FileConversion conversion;
    return resampleRange(file, toSampleRate, channelCount, channelMode, frameCount,
                         maxReadFrameSize, conversion, true);
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
        Logging::error("Failed to resample buffer: " + error.message());
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
    mixToMono(*buffer, *mono, mode);
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
    checkTimes(startTime, endTime);
    const double total = double(checkedLength(*file)) / file->sampleRate();
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
    FileConversion conversion;
    for (double pieceStart = start; pieceStart < end;) {
        const double pieceEnd = std::min(end, pieceStart + floatArrayStretchSeconds);
        appendRange(*file, channelMode, pieceStart, pieceEnd, std::nullopt, conversion,
                    pieceEnd >= end, samples);
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
