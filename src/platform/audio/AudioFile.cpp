#include "platform/audio/AudioFile.h"

#include "platform/system/SystemError.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <limits>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace platform::audio {

namespace {

using platform::system::SystemError;

std::string averrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

[[noreturn]] void fail(int code, const std::string& description) {
    throw SystemError(AudioFile::errorDomain, code, description);
}

// Consecutive packets the decoder may refuse before the file counts as broken.
constexpr int maxConsecutiveDamage = 64;

bool isPcm(AVCodecID id) {
    return id >= AV_CODEC_ID_PCM_S16LE && id < AV_CODEC_ID_ADPCM_IMA_QT;
}

// Codecs whose containers state the exact frame count (a header field or a
// sample-accurate index), so the length needs no counting pass.
bool statesExactLength(AVCodecID id) {
    return isPcm(id) || id == AV_CODEC_ID_FLAC || id == AV_CODEC_ID_ALAC ||
           id == AV_CODEC_ID_WAVPACK;
}

struct FormatCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct CodecFreer {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct PacketFreer {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct FrameFreer {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};

/// One open demuxer and decoder on the file's best audio track.
struct Decoder {
    std::unique_ptr<AVFormatContext, FormatCloser> format;
    std::unique_ptr<AVCodecContext, CodecFreer> codec;
    std::unique_ptr<AVPacket, PacketFreer> packet{av_packet_alloc()};
    std::unique_ptr<AVFrame, FrameFreer> frame{av_frame_alloc()};
    AVStream* stream = nullptr;
    bool drained = false;    // the end-of-stream packet has been sent
    bool held = false;       // `packet` still waits to be sent
    long damagedPackets = 0; // packets the decoder refused and that were skipped

    void open(const std::string& path);
    /// Decodes the next frame into `frame`; false at the end of the stream.
    bool next(const std::string& path);
};

void Decoder::open(const std::string& path) {
    // Failures reach the caller as errors; FFmpeg's own chatter would only
    // clutter standard error.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });
    if (!packet || !frame) fail(AVERROR(ENOMEM), "Out of memory opening " + path);
    // Local files only, also for anything the file itself refers to.
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    // Uncompressed audio in larger packets: far fewer trips through the
    // demuxer and decoder for long WAV and AIFF files.
    av_dict_set(&options, "max_size", "262144", 0);
    AVFormatContext* raw = nullptr;
    const std::string url = "file:" + std::filesystem::absolute(path).string();
    int status = avformat_open_input(&raw, url.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (status < 0) fail(status, "Cannot open audio file " + path + ": " + averrorText(status));
    format.reset(raw);
    status = avformat_find_stream_info(raw, nullptr);
    if (status < 0) fail(status, "Cannot read the streams of " + path + ": " + averrorText(status));

    const AVCodec* decoderKind = nullptr;
    const int index = av_find_best_stream(raw, AVMEDIA_TYPE_AUDIO, -1, -1, &decoderKind, 0);
    if (index == AVERROR_STREAM_NOT_FOUND) fail(index, "No audio track in " + path);
    if (index < 0 || !decoderKind)
        fail(index < 0 ? index : AVERROR_DECODER_NOT_FOUND,
             "No decoder for the audio track of " + path);
    for (unsigned i = 0; i < raw->nb_streams; ++i) {
        raw->streams[i]->discard = int(i) == index ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }
    stream = raw->streams[index];

    codec.reset(avcodec_alloc_context3(decoderKind));
    if (!codec) fail(AVERROR(ENOMEM), "Out of memory opening " + path);
    status = avcodec_parameters_to_context(codec.get(), stream->codecpar);
    if (status < 0) fail(status, "Cannot decode the audio of " + path + ": " + averrorText(status));
    codec->thread_count = 1;
    codec->pkt_timebase = stream->time_base;
    status = avcodec_open2(codec.get(), decoderKind, nullptr);
    if (status < 0) fail(status, "Cannot decode the audio of " + path + ": " + averrorText(status));
}

bool Decoder::next(const std::string& path) {
    int consecutiveErrors = 0;
    auto damaged = [&](int status) {
        // A damaged packet is skipped, as players do, and the rest still
        // decodes; a run of nothing but damage means the file is not audio.
        ++damagedPackets;
        if (++consecutiveErrors > maxConsecutiveDamage) {
            fail(status, "Error decoding " + path + ": " + averrorText(status));
        }
    };
    for (;;) {
        int status = avcodec_receive_frame(codec.get(), frame.get());
        if (status >= 0) return true;
        if (status == AVERROR_EOF) return false;
        if (status != AVERROR(EAGAIN)) {
            if (status != AVERROR_INVALIDDATA)
                fail(status, "Error decoding " + path + ": " + averrorText(status));
            damaged(status);
            if (drained) continue;
        } else if (drained) {
            return false;
        }
        if (!held) {
            status = av_read_frame(format.get(), packet.get());
            if (status == AVERROR_EOF) {
                drained = true;
                status = avcodec_send_packet(codec.get(), nullptr);
                if (status < 0 && status != AVERROR_EOF) {
                    fail(status, "Error decoding " + path + ": " + averrorText(status));
                }
                continue;
            }
            if (status < 0) fail(status, "Error reading " + path + ": " + averrorText(status));
            if (packet->stream_index != stream->index) {
                av_packet_unref(packet.get());
                continue;
            }
        }
        status = avcodec_send_packet(codec.get(), packet.get());
        // The decoder wants its output taken first; the packet is sent again.
        held = status == AVERROR(EAGAIN);
        if (held) continue;
        av_packet_unref(packet.get());
        if (status == AVERROR_INVALIDDATA) {
            damaged(status);
            continue;
        }
        if (status < 0) fail(status, "Error decoding " + path + ": " + averrorText(status));
        consecutiveErrors = 0;
    }
}

/// Copies `count` frames from `first` on of a decoded frame into the planes of
/// `buffer` from frame `offset` on, converting to float. Channels the frame
/// lacks are silent.
void copyFrames(const AVFrame& frame, int first, int count, PcmBuffer& buffer, uint32_t offset) {
    const auto format = AVSampleFormat(frame.format);
    const bool planar = av_sample_fmt_is_planar(format);
    const int frameChannels = frame.ch_layout.nb_channels;
    const uint32_t channels = buffer.format().channelCount();
    for (uint32_t c = 0; c < channels; ++c) {
        float* out = buffer.channel(c) + offset;
        if (int(c) >= frameChannels) {
            std::fill(out, out + count, 0.0f);
            continue;
        }
        const uint8_t* base = planar ? frame.extended_data[c] : frame.extended_data[0];
        const int step = planar ? 1 : frameChannels;
        const int start = planar ? first : first * frameChannels + int(c);
        auto convert = [&](auto sample, float scale, float bias) {
            using T = decltype(sample);
            const T* in = reinterpret_cast<const T*>(base) + start;
            for (int i = 0; i < count; ++i)
                out[i] = (float(in[size_t(i) * step]) - bias) * scale;
        };
        switch (av_get_packed_sample_fmt(format)) {
        case AV_SAMPLE_FMT_U8:
            convert(uint8_t{}, 1.0f / 128.0f, 128.0f);
            break;
        case AV_SAMPLE_FMT_S16:
            convert(int16_t{}, 1.0f / 32768.0f, 0.0f);
            break;
        case AV_SAMPLE_FMT_S32:
            convert(int32_t{}, 1.0f / 2147483648.0f, 0.0f);
            break;
        case AV_SAMPLE_FMT_S64:
            convert(int64_t{}, 1.0f / 9223372036854775808.0f, 0.0f);
            break;
        case AV_SAMPLE_FMT_FLT:
            convert(float{}, 1.0f, 0.0f);
            break;
        case AV_SAMPLE_FMT_DBL:
            convert(double{}, 1.0f, 0.0f);
            break;
        default:
            std::fill(out, out + count, 0.0f);
            break;
        }
    }
}

int64_t toSamples(int64_t timestamp, AVRational timeBase, int sampleRate) {
    return av_rescale_q(timestamp, timeBase, AVRational{1, sampleRate});
}

} // namespace

struct AudioFile::Reader {
    std::string path;
    AudioFormat format = *AudioFormat::standard(16000, 1);
    int sampleRate = 0;
    AVCodecID codecId = AV_CODEC_ID_NONE;
    int64_t length = 0;
    Decoder decoder;
    int64_t cursor = 0;    // file frame of the next undelivered decoded frame
    int pendingOffset = 0; // first undelivered frame inside decoder.frame
    int pendingCount = 0;  // undelivered frames left in decoder.frame
    bool finished = false; // the decoder has nothing more
    int64_t position = 0;  // where the next read starts

    void countLength();
    void restart();
    bool refill();
    void skip(int64_t frames);
    bool seekExactly(int64_t frame);
    void moveTo(int64_t frame);
};

void AudioFile::Reader::restart() {
    decoder = Decoder();
    decoder.open(path);
    cursor = 0;
    pendingOffset = pendingCount = 0;
    finished = false;
}

bool AudioFile::Reader::refill() {
    while (pendingCount == 0) {
        if (finished || !decoder.next(path)) {
            finished = true;
            return false;
        }
        pendingOffset = 0;
        pendingCount = std::max(0, decoder.frame->nb_samples);
    }
    return true;
}

void AudioFile::Reader::skip(int64_t frames) {
    while (frames > 0 && refill()) {
        const int take = int(std::min<int64_t>(frames, pendingCount));
        pendingOffset += take;
        pendingCount -= take;
        cursor += take;
        frames -= take;
    }
}

bool AudioFile::Reader::seekExactly(int64_t frame) {
    // Uncompressed audio seeks exactly: timestamps follow the byte offset.
    const AVStream* stream = decoder.stream;
    const int64_t origin = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
    const int64_t target =
        origin + av_rescale_q(frame, AVRational{1, sampleRate}, stream->time_base);
    if (av_seek_frame(decoder.format.get(), stream->index, target, AVSEEK_FLAG_BACKWARD) < 0)
        return false;
    avcodec_flush_buffers(decoder.codec.get());
    decoder.drained = decoder.held = false;
    av_packet_unref(decoder.packet.get());
    finished = false;
    pendingOffset = pendingCount = 0;
    if (!refill()) return false;
    const int64_t pts = decoder.frame->best_effort_timestamp;
    if (pts == AV_NOPTS_VALUE) return false;
    const int64_t at = toSamples(pts - origin, stream->time_base, sampleRate);
    if (at < 0 || at > frame) return false;
    cursor = at;
    skip(frame - at);
    return true;
}

void AudioFile::Reader::moveTo(int64_t frame) {
    if (frame == cursor) return;
    if (isPcm(codecId) && frame < length) {
        if (seekExactly(frame)) return;
        // The demuxer could not place us exactly: decode from the start.
        restart();
    } else if (frame < cursor) {
        restart();
    }
    skip(frame - cursor);
}

void AudioFile::Reader::countLength() {
    const AVStream* stream = decoder.stream;
    int64_t stated = -1;
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0) {
        stated = toSamples(stream->duration, stream->time_base, sampleRate);
    } else if (decoder.format->duration != AV_NOPTS_VALUE && decoder.format->duration > 0) {
        stated = toSamples(decoder.format->duration, AV_TIME_BASE_Q, sampleRate);
    }
    if (isPcm(codecId)) {
        // A header can claim more than the file holds; the bytes decide.
        const int blockAlign = stream->codecpar->block_align;
        const int64_t size = avio_size(decoder.format->pb);
        if (blockAlign > 0 && size > 0) {
            const int64_t held = size / blockAlign;
            stated = stated < 0 ? held : std::min(stated, held);
        }
    }
    const bool guessed = decoder.format->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE;
    if (stated >= 0 && (statesExactLength(codecId) || !guessed)) {
        // Compressed audio may state a few milliseconds of encoder delay and
        // padding on top of what it decodes to; reads end at the real end.
        length = stated;
        return;
    }
    // No length, or one guessed from the bit rate (a variable-rate file can
    // be far longer than the guess): decode once and count.
    Decoder counter;
    counter.open(path);
    int64_t counted = 0;
    while (counter.next(path))
        counted += std::max(0, counter.frame->nb_samples);
    length = counted;
}

AudioFile::AudioFile() : reader_(std::make_unique<Reader>()) {}
AudioFile::~AudioFile() = default;

std::unique_ptr<AudioFile> AudioFile::open(const std::string& path) {
    std::unique_ptr<AudioFile> file(new AudioFile());
    Reader& reader = *file->reader_;
    reader.path = path;
    reader.decoder.open(path);
    const AVCodecParameters* parameters = reader.decoder.stream->codecpar;
    reader.codecId = parameters->codec_id;
    reader.sampleRate = parameters->sample_rate;
    const int channels = parameters->ch_layout.nb_channels;
    const auto format =
        AudioFormat::standard(reader.sampleRate, channels > 0 ? uint32_t(channels) : 0);
    if (!format) {
        fail(AVERROR_INVALIDDATA, "Unsupported audio format in " + path + " (" +
                                      std::to_string(reader.sampleRate) + " Hz, " +
                                      std::to_string(channels) + " channels)");
    }
    reader.format = *format;
    reader.countLength();
    return file;
}

const std::string& AudioFile::path() const {
    return reader_->path;
}
const AudioFormat& AudioFile::processingFormat() const {
    return reader_->format;
}
int64_t AudioFile::length() const {
    return reader_->length;
}
int64_t AudioFile::framePosition() const {
    return reader_->position;
}
void AudioFile::setFramePosition(int64_t frame) {
    reader_->position = std::max<int64_t>(frame, 0);
}

void AudioFile::read(PcmBuffer& buffer, uint32_t frames) {
    Reader& reader = *reader_;
    buffer.setFrameLength(0);
    if (buffer.format().channelCount() != reader.format.channelCount()) {
        fail(AVERROR(EINVAL), "Buffer format does not match " + reader.path);
    }
    const int64_t wanted =
        std::min<int64_t>({int64_t(frames), int64_t(buffer.frameCapacity()),
                           std::max<int64_t>(reader.length - reader.position, 0)});
    if (wanted == 0) return;
    reader.moveTo(reader.position);
    uint32_t filled = 0;
    while (filled < wanted && reader.refill()) {
        const int take = int(std::min<int64_t>(wanted - filled, reader.pendingCount));
        copyFrames(*reader.decoder.frame, reader.pendingOffset, take, buffer, filled);
        reader.pendingOffset += take;
        reader.pendingCount -= take;
        reader.cursor += take;
        filled += uint32_t(take);
    }
    buffer.setFrameLength(filled);
    reader.position += filled;
}

} // namespace platform::audio
