#include "platform/audio/AudioFileReader.h"

#include "platform/audio/AudioConverter.h"
#include "platform/audio/AudioReadError.h"
#include "platform/system/SystemError.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <fmt/format.h>
#include <limits>
#include <mutex>
#include <thread>

namespace platform::audio {

namespace {

using Kind = AudioReadError::Kind;

/// A frame count as a 32-bit count, or nothing when it does not fit.
std::optional<uint32_t> frameCount32(double frames) {
    if (!(frames >= 0.0) || frames > double(std::numeric_limits<uint32_t>::max()))
        return std::nullopt;
    return uint32_t(frames);
}

std::unique_ptr<PcmBuffer> makeBuffer(const AudioFormat& format, uint32_t capacity,
                                      const char* what) {
    auto buffer = PcmBuffer::make(format, capacity);
    if (!buffer) throw AudioReadError(Kind::outOfMemory, what);
    return std::make_unique<PcmBuffer>(std::move(*buffer));
}

} // namespace

void AudioFileReader::checkTimes(std::optional<double> startTime, std::optional<double> endTime) {
    if (startTime && !(std::isfinite(*startTime) && *startTime >= 0.0))
        throw AudioReadError(Kind::invalidRange, fmt::format("Invalid start time {}", *startTime));
    if (endTime && !(std::isfinite(*endTime) && *endTime >= 0.0))
        throw AudioReadError(Kind::invalidRange, fmt::format("Invalid end time {}", *endTime));
}

namespace {

AudioReadError conversionError(int64_t code) {
    return AudioReadError(Kind::conversionFailed,
                          "Failed to resample audio chunk: " + AudioConverter::errorText(code));
}

} // namespace

/// A rate conversion that may go on over several consecutive reads of the
/// file, with its read and down-mix buffers reused from read to read.
struct AudioFileReader::Conversion {
    std::unique_ptr<AudioConverter> converter;
    int64_t nextFrame = -1; // the file frame the converter expects next
    // Output frames earlier reads fell short of their share (the converter
    // still holds them as its look-ahead); the next read has room for them.
    uint32_t owed = 0;
    // Two read and down-mix slots: while one piece is converted, the next
    // is read into the other. `mono` is absent when the file has one channel.
    struct Slot {
        std::unique_ptr<PcmBuffer> input;
        std::unique_ptr<PcmBuffer> mono;
        const PcmBuffer& converted() const { return mono ? *mono : *input; }
    };
    Slot slots[2];
};

/// Where converted frames go: one plane per output channel, with room for
/// `capacity` frames of which `length` are written.
struct AudioFileReader::Output {
    std::vector<float*> planes;
    uint32_t capacity = 0;
    uint32_t length = 0;

    std::vector<float*> room() const {
        std::vector<float*> result = planes;
        for (float*& plane : result)
            plane += length;
        return result;
    }
};

AudioFileReader::AudioFileReader(AudioFile& file, double sampleRate, MonoMix mix,
                                 Observer* observer)
    : file_(file), sampleRate_(sampleRate), mix_(std::move(mix)), observer_(observer),
      conversion_(std::make_unique<Conversion>()) {}

AudioFileReader::~AudioFileReader() = default;

int64_t AudioFileReader::checkedLength() const {
    const int64_t length = file_.length();
    if (length > int64_t(std::numeric_limits<uint32_t>::max())) {
        throw AudioReadError(Kind::tooLong, "Audio file is too long: " + std::to_string(length) +
                                                " frames in " + file_.path());
    }
    return length;
}

uint32_t AudioFileReader::beginConversion(int64_t frames, const AudioFormat& output,
                                          uint32_t pieceFrames) {
    Conversion& conversion = *conversion_;
    const double inputRate = file_.sampleRate();
    if (observer_) observer_->conversionStarting(frames, inputRate);
    const bool continuing = conversion.converter && conversion.nextFrame == file_.framePosition() &&
                            conversion.converter->outputFormat() == output;
    if (!continuing) conversion.converter.reset(), conversion.owed = 0;
    const auto capacity = frameCount32(
        std::floor(double(frames) / inputRate * output.sampleRate()) + double(conversion.owed));
    if (!capacity) throw AudioReadError(Kind::outOfMemory, "Failed to create output buffer");
    for (Conversion::Slot& slot : conversion.slots) {
        if (slot.input && slot.input->frameCapacity() == pieceFrames &&
            slot.input->format() == file_.processingFormat()) {
            continue;
        }
        slot.input.reset(), slot.mono.reset();
        slot.input =
            makeBuffer(file_.processingFormat(), pieceFrames, "Failed to create input buffer");
        if (file_.channelCount() > 1) {
            slot.mono = makeBuffer(*AudioFormat::standard(inputRate, 1), pieceFrames,
                                   "Failed to create input buffer");
        }
    }
    if (!conversion.converter) {
        conversion.converter = AudioConverter::make(*AudioFormat::standard(inputRate, 1), output);
        if (!conversion.converter)
            throw AudioReadError(Kind::conversionFailed, "Failed to create audio converter");
    }
    return *capacity;
}

uint32_t AudioFileReader::readPiece(int64_t end, int slotIndex) {
    Conversion::Slot& slot = conversion_->slots[slotIndex];
    const int64_t position = file_.framePosition();
    const auto pieceFrames =
        uint32_t(std::min<int64_t>(slot.input->frameCapacity(), end - position));
    if (observer_) observer_->pieceReading(position, position + pieceFrames, file_.sampleRate());
    try {
        file_.read(*slot.input, pieceFrames);
    } catch (const system::SystemError& error) {
        throw AudioReadError(Kind::readFailed,
                             "Error reading audio file: " + std::string(error.what()));
    }
    if (slot.mono) mix_.mix(*slot.input, *slot.mono);
    return slot.input->frameLength();
}

void AudioFileReader::convertPieces(int64_t end, bool endOfStream, Output& out) {
    Conversion& conversion = *conversion_;
    AudioConverter& converter = *conversion.converter;
    auto convert = [&](const PcmBuffer& mono) {
        const float* monoPlane[] = {mono.channel(0)};
        const int64_t written = converter.convert(monoPlane, mono.frameLength(), out.room().data(),
                                                  out.capacity - out.length);
        if (written < 0) throw conversionError(written);
        out.length += uint32_t(written);
    };

    const uint32_t pieceCapacity = conversion.slots[0].input->frameCapacity();
    if (end - file_.framePosition() <= int64_t(pieceCapacity)) {
        if (file_.framePosition() < end && readPiece(end, 0) > 0)
            convert(conversion.slots[0].converted());
    } else {
        // The reader fills slot k while the caller converts slot k ^ 1.
        std::mutex mutex;
        std::condition_variable changed;
        bool full[2] = {false, false};
        bool readerDone = false, stop = false;
        std::exception_ptr readError;
        std::jthread reader([&] {
            for (int k = 0;; k ^= 1) {
                {
                    std::unique_lock lock(mutex);
                    changed.wait(lock, [&] { return !full[k] || stop; });
                    if (stop) break;
                }
                uint32_t read = 0;
                try {
                    if (file_.framePosition() < end) read = readPiece(end, k);
                } catch (...) {
                    std::lock_guard lock(mutex);
                    readError = std::current_exception();
                    break;
                }
                std::lock_guard lock(mutex);
                if (read == 0) break;
                full[k] = true;
                changed.notify_all();
                if (read < pieceCapacity && file_.framePosition() < end)
                    break; // the audio ended early
            }
            std::lock_guard lock(mutex);
            readerDone = true;
            changed.notify_all();
        });
        std::exception_ptr convertError;
        for (int k = 0;; k ^= 1) {
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return full[k] || readerDone; });
                if (!full[k]) break;
            }
            try {
                convert(conversion.slots[k].converted());
            } catch (...) {
                convertError = std::current_exception();
            }
            std::lock_guard lock(mutex);
            full[k] = false;
            if (convertError) stop = true;
            changed.notify_all();
            if (convertError) break;
        }
        reader.join();
        if (convertError) std::rethrow_exception(convertError);
        if (readError) std::rethrow_exception(readError);
    }
    conversion.nextFrame = file_.framePosition();
    conversion.owed = out.capacity - out.length;
    if (endOfStream) {
        // The filter's look-ahead comes out now; anything beyond the capacity
        // computed from the duration is cut.
        const int64_t written = converter.flush(out.room().data(), out.capacity - out.length);
        if (written < 0) throw conversionError(written);
        out.length += uint32_t(written);
        conversion.converter.reset();
        conversion.owed = 0;
    }
}

uint32_t AudioFileReader::appendRange(std::optional<double> startTime,
                                      std::optional<double> endTime, bool endOfStream,
                                      std::vector<float>& samples,
                                      std::optional<uint32_t> pieceFrames) {
    checkTimes(startTime, endTime);
    const double rate = file_.sampleRate();
    const int64_t length = checkedLength();
    // Frames are cut toward zero; both ends are clamped to the file before
    // they become integers, so no time can overflow a frame position.
    const double startFrame = std::trunc(startTime.value_or(0.0) * rate);
    const double endFrame =
        endTime ? std::min(std::trunc(*endTime * rate), double(length)) : double(length);
    if (endFrame < startFrame) {
        throw AudioReadError(Kind::invalidRange,
                             fmt::format("Invalid time range {}s - {}s for {}",
                                         startTime.value_or(0.0),
                                         endTime.value_or(double(length) / rate), file_.path()));
    }
    const auto start = int64_t(startFrame);
    const auto end = int64_t(endFrame);
    const auto frames = uint32_t(end - start);
    file_.setFramePosition(start);

    const size_t before = samples.size();
    if (rate == sampleRate_ && file_.channelCount() == 1) {
        auto buffer = makeBuffer(file_.processingFormat(), frames, "Unable to create audio buffer");
        try {
            file_.read(*buffer, frames);
        } catch (const system::SystemError& error) {
            throw AudioReadError(Kind::readFailed,
                                 "Failed to read audio file: " + std::string(error.what()));
        }
        samples.insert(samples.end(), buffer->channel(0),
                       buffer->channel(0) + buffer->frameLength());
        return uint32_t(samples.size() - before);
    }
    const auto capacity =
        beginConversion(frames, *AudioFormat::standard(sampleRate_, 1),
                        std::max<uint32_t>(pieceFrames.value_or(defaultPieceFrames), 1));
    // Converted straight into the caller's samples, sized once.
    try {
        samples.resize(before + capacity);
    } catch (const std::exception&) {
        throw AudioReadError(Kind::outOfMemory, "Failed to create output buffer");
    }
    Output out{{samples.data() + before}, capacity, 0};
    try {
        convertPieces(end, endOfStream, out);
    } catch (...) {
        samples.resize(before);
        conversion_->converter.reset();
        throw;
    }
    samples.resize(before + out.length);
    return out.length;
}

PcmBuffer AudioFileReader::convert(const AudioFormat& output, std::optional<int64_t> frameCount,
                                   uint32_t pieceFrames) {
    const int64_t length = file_.length();
    const int64_t frames = std::max<int64_t>(frameCount.value_or(length), 0);
    const int64_t end = std::min(file_.framePosition() + frames, length);
    const auto capacity = beginConversion(frames, output, std::max<uint32_t>(pieceFrames, 1));
    auto buffer = makeBuffer(output, capacity, "Failed to create output buffer");
    Output out{{}, capacity, 0};
    for (uint32_t c = 0; c < output.channelCount(); ++c)
        out.planes.push_back(buffer->channel(c));
    try {
        convertPieces(end, true, out);
    } catch (...) {
        conversion_->converter.reset();
        throw;
    }
    buffer->setFrameLength(out.length);
    return std::move(*buffer);
}

} // namespace platform::audio
