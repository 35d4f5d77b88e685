#include "platform/audio/AudioConverter.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <vector>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace platform::audio {

namespace {

// swresample counts frames in int; larger requests are split into steps.
constexpr uint32_t maxStepFrames = 1u << 20;

int integerRate(double rate) {
    return int(std::lround(rate));
}

} // namespace

struct AudioConverter::State {
    SwrContext* context = nullptr;
    ~State() { swr_free(&context); }
};

AudioConverter::AudioConverter(const AudioFormat& input, const AudioFormat& output)
    : input_(input), output_(output), state_(std::make_unique<State>()) {}

AudioConverter::~AudioConverter() = default;

std::unique_ptr<AudioConverter> AudioConverter::make(const AudioFormat& input,
                                                     const AudioFormat& output) {
    std::unique_ptr<AudioConverter> converter(new AudioConverter(input, output));
    if (!converter->setUp()) return nullptr;
    return converter;
}

bool AudioConverter::setUp() {
    AVChannelLayout inLayout, outLayout;
    av_channel_layout_default(&inLayout, int(input_.channelCount()));
    av_channel_layout_default(&outLayout, int(output_.channelCount()));
    SwrContext* context = nullptr;
    int status = swr_alloc_set_opts2(
        &context, &outLayout, AV_SAMPLE_FMT_FLTP, integerRate(output_.sampleRate()), &inLayout,
        AV_SAMPLE_FMT_FLTP, integerRate(input_.sampleRate()), 0, nullptr);
    av_channel_layout_uninit(&inLayout);
    av_channel_layout_uninit(&outLayout);
    if (status < 0 || !context) {
        swr_free(&context);
        return false;
    }
    state_->context = context;
    if (output_.channelCount() == 1 && input_.channelCount() > 1) {
        // A plain average, so that a signal present identically on every
        // channel comes out unchanged.
        std::vector<double> matrix(input_.channelCount(), 1.0 / input_.channelCount());
        if (swr_set_matrix(context, matrix.data(), int(input_.channelCount())) < 0) return false;
    }
    return swr_init(context) >= 0;
}

int64_t AudioConverter::convert(const float* const* input, uint32_t frames, float* const* output,
                                uint32_t capacity) {
    SwrContext* context = state_->context;
    const uint32_t inChannels = input_.channelCount();
    const uint32_t outChannels = output_.channelCount();
    // An input list with a count of zero asks the converter for what it holds
    // without ending the stream (a null list would flush it).
    static const float none = 0.0f;
    std::vector<const uint8_t*> in(inChannels, reinterpret_cast<const uint8_t*>(&none));
    std::vector<uint8_t*> out(outChannels);
    uint32_t consumed = 0;
    uint32_t written = 0;
    auto step = [&](uint32_t inputFrames, bool endOfStream) -> int {
        const uint32_t room = std::min(capacity - written, maxStepFrames);
        for (uint32_t c = 0; c < outChannels; ++c)
            out[c] = reinterpret_cast<uint8_t*>(output[c] + written);
        if (inputFrames > 0) {
            for (uint32_t c = 0; c < inChannels; ++c)
                in[c] = reinterpret_cast<const uint8_t*>(input[c] + consumed);
        }
        const int produced = swr_convert(context, out.data(), int(room),
                                         endOfStream ? nullptr : in.data(), int(inputFrames));
        if (produced > 0) written += uint32_t(produced);
        consumed += inputFrames;
        return produced;
    };
    // Every input frame is handed over exactly once; when the output space
    // runs out the converter keeps the rest for the next call.
    while (consumed < frames) {
        const int produced = step(std::min(frames - consumed, maxStepFrames), false);
        if (produced < 0) return produced;
    }
    while (written < capacity) {
        const int produced = step(0, false);
        if (produced < 0) return produced;
        if (produced == 0) break;
    }
    return written;
}

int64_t AudioConverter::flush(float* const* output, uint32_t capacity) {
    SwrContext* context = state_->context;
    std::vector<uint8_t*> out(output_.channelCount());
    uint32_t written = 0;
    while (written < capacity) {
        const uint32_t room = std::min(capacity - written, maxStepFrames);
        for (uint32_t c = 0; c < out.size(); ++c)
            out[c] = reinterpret_cast<uint8_t*>(output[c] + written);
        const int produced = swr_convert(context, out.data(), int(room), nullptr, 0);
        if (produced < 0) return produced;
        if (produced == 0) break;
        written += uint32_t(produced);
    }
    // Once everything is out, start afresh: the next input begins a new
    // stream with a clean filter history. When the space ran out first, the
    // rest waits for the next flush.
    if (written < capacity) {
        const int status = swr_init(context);
        if (status < 0) return status;
    }
    return written;
}

int64_t AudioConverter::pendingOutputFrames() const {
    return std::max(0, swr_get_out_samples(state_->context, 0));
}

int64_t AudioConverter::convert(const PcmBuffer& source, PcmBuffer& destination, bool endOfStream) {
    if (source.format().channelCount() != input_.channelCount() ||
        destination.format().channelCount() != output_.channelCount()) {
        return AVERROR(EINVAL);
    }
    std::vector<const float*> in(input_.channelCount());
    std::vector<float*> out(output_.channelCount());
    for (uint32_t c = 0; c < in.size(); ++c)
        in[c] = source.channel(c);
    const uint32_t start = destination.frameLength();
    for (uint32_t c = 0; c < out.size(); ++c)
        out[c] = destination.channel(c) + start;
    const uint32_t room = destination.frameCapacity() - start;
    int64_t written = convert(in.data(), source.frameLength(), out.data(), room);
    if (written < 0) return written;
    if (endOfStream) {
        for (uint32_t c = 0; c < out.size(); ++c)
            out[c] += written;
        const int64_t tail = flush(out.data(), room - uint32_t(written));
        if (tail < 0) return tail;
        written += tail;
    }
    destination.setFrameLength(start + uint32_t(written));
    return written;
}

std::string AudioConverter::errorText(int64_t code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(int(code), text, sizeof text);
    return text;
}

} // namespace platform::audio
