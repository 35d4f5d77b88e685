#pragma once
// An audio file opened for reading: any container and codec that FFmpeg reads
// (WAV, AIFF, CAF, FLAC, MP3, Ogg, M4A, the audio track of a video file, ...).
//
// The file is read as a sequence of frames in its processing format: 32-bit
// float, one plane per channel, at the file's own sample rate. Encoder delay
// and padding are removed as the container describes them. Reading starts at
// framePosition() and moves it on; setting the position makes the next read
// begin at that frame exactly.
//
// Only local files are read: no network protocol is ever opened, also not by
// playlists or other files that refer to further files.
//
// Failures are platform::system::SystemError values in the domain
// "platform.audio.AudioFile" whose description names the file.

#include "platform/audio/AudioFormat.h"
#include "platform/audio/PcmBuffer.h"

#include <cstdint>
#include <memory>
#include <string>

namespace platform::audio {

class AudioFile {
public:
    static constexpr const char* errorDomain = "platform.audio.AudioFile";

    /// Opens `path` and finds its best audio track; throws SystemError when
    /// the file cannot be opened, holds no audio or cannot be decoded.
    static std::unique_ptr<AudioFile> open(const std::string& path);
    ~AudioFile();
    AudioFile(const AudioFile&) = delete;
    AudioFile& operator=(const AudioFile&) = delete;

    const std::string& path() const;
    /// 32-bit float, non-interleaved, at the file's rate and channel count.
    const AudioFormat& processingFormat() const;
    double sampleRate() const { return processingFormat().sampleRate(); }
    uint32_t channelCount() const { return processingFormat().channelCount(); }
    /// Frames in the file: exact for uncompressed and lossless audio. For
    /// compressed audio it is the container's statement, which may count a
    /// few milliseconds of encoder delay and padding that reads do not
    /// deliver (reads end at the real end), and a count by decoding when
    /// the container only guesses.
    int64_t length() const;

    /// The frame the next read starts at.
    int64_t framePosition() const;
    /// Moves the read position; positions past the end read nothing.
    void setFramePosition(int64_t frame);

    /// Reads up to `frames` frames (at most the buffer's capacity) into
    /// `buffer`, whose format must have the file's channel count, and sets its
    /// frame length to the frames read: fewer than asked only at the end of
    /// the file. Throws SystemError when the file cannot be read.
    void read(PcmBuffer& buffer, uint32_t frames);

private:
    AudioFile();
    struct Reader;
    std::unique_ptr<Reader> reader_;
};

} // namespace platform::audio
