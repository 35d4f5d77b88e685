#pragma once
// Reads an open audio file as a stream of converted samples: each piece of
// the file is read, mixed down to one channel and handed to one rate
// converter that runs on from piece to piece, so the converted pieces join
// without seams. While one piece is converted the next is read on a helper
// thread.
//
// Consecutive ranges read through the same reader share the converter too:
// a range that starts where the previous one ended carries on its stream, so
// a long file read in stretches comes out as if read in one go.
//
// Every failure is an AudioReadError that says which step failed and why.
// A reader belongs to one thread at a time; it uses the file it is given and
// moves its read position.

#include "platform/audio/AudioFile.h"
#include "platform/audio/AudioFormat.h"
#include "platform/audio/MonoMix.h"
#include "platform/audio/PcmBuffer.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace platform::audio {

class AudioFileReader {
public:
    /// Frames read per piece unless the caller says otherwise: 30 seconds at
    /// 44.1 kHz.
    static constexpr uint32_t defaultPieceFrames = 1'323'000;

    /// Told what the reader is about to do, for diagnostic lines.
    class Observer {
    public:
        virtual ~Observer() = default;
        /// A conversion of `frames` frames of the file (at `rate`) begins.
        virtual void conversionStarting(int64_t frames, double rate) {}
        /// The frames [from, to) of the file (at `rate`) are read next.
        virtual void pieceReading(int64_t from, int64_t to, double rate) {}
    };

    /// A reader of `file` whose sample ranges come out as one channel at
    /// `sampleRate`. Several channels are mixed down as `mix` says before
    /// their rate is converted. `observer`, when given, must outlive the
    /// reader.
    AudioFileReader(AudioFile& file, double sampleRate, MonoMix mix = MonoMix::sum(),
                    Observer* observer = nullptr);
    ~AudioFileReader();
    AudioFileReader(const AudioFileReader&) = delete;
    AudioFileReader& operator=(const AudioFileReader&) = delete;

    /// Throws AudioReadError::invalidRange when a time is not finite or is
    /// negative.
    static void checkTimes(std::optional<double> startTime, std::optional<double> endTime);

    /// The file's length in frames; throws AudioReadError::tooLong when it
    /// does not fit a 32-bit frame count.
    int64_t checkedLength() const;

    /// Appends the time range [startTime, endTime) of the file (the whole
    /// file by default) to `samples` and returns how many samples that is.
    /// Times become frames cut toward zero; the end is clamped to the file.
    /// A file already at the reader's rate with one channel is copied without
    /// conversion. With `endOfStream` false the converter keeps its state for
    /// a following range that starts where this one ended. Reads go in pieces
    /// of `pieceFrames` frames (defaultPieceFrames when absent).
    /// Throws AudioReadError: invalidRange for a time that is not finite or
    /// negative or an end before the start, tooLong, readFailed,
    /// conversionFailed or outOfMemory.
    uint32_t appendRange(std::optional<double> startTime, std::optional<double> endTime,
                         bool endOfStream, std::vector<float>& samples,
                         std::optional<uint32_t> pieceFrames = std::nullopt);

    /// Converts `frameCount` frames (to the end of the file when absent)
    /// from the file's read position to `output`, in pieces of `pieceFrames`
    /// frames (at least 1), and ends the stream. The result holds at most the
    /// frames the duration calls for at the output rate. Throws
    /// AudioReadError as appendRange does.
    PcmBuffer convert(const AudioFormat& output, std::optional<int64_t> frameCount,
                      uint32_t pieceFrames);

private:
    struct Conversion;
    struct Output;

    uint32_t beginConversion(int64_t frames, const AudioFormat& output, uint32_t pieceFrames);
    uint32_t readPiece(int64_t end, int slot);
    void convertPieces(int64_t end, bool endOfStream, Output& out);

    AudioFile& file_;
    double sampleRate_;
    MonoMix mix_;
    Observer* observer_;
    std::unique_ptr<Conversion> conversion_;
};

} // namespace platform::audio
