#include "platform/audio/AudioCapture.h"

#include "platform/audio/AudioConverter.h"
#include "platform/system/SystemError.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>
#include <semaphore>
#include <thread>
#include <vector>

namespace platform::audio {

namespace {

/// A fixed ring of buffers between one producer (the audio thread) and one
/// consumer (the converter thread). Storage is reserved up front; pushing
/// never allocates, locks or blocks.
class BufferQueue {
public:
    BufferQueue(uint32_t slots, uint32_t channels, uint32_t framesPerSlot)
        : channels_(channels), framesPerSlot_(framesPerSlot), slots_(slots) {
        for (Slot& slot : slots_)
            slot.samples.assign(size_t(channels) * framesPerSlot, 0.0f);
    }

    /// Copies the buffer in (split over several slots when it is longer than
    /// one); returns false when a part had to be dropped.
    bool push(const float* const* planes, uint32_t frames) {
        for (uint32_t at = 0; at < frames;) {
            const size_t tail = tail_.load(std::memory_order_relaxed);
            if (tail - head_.load(std::memory_order_acquire) == slots_.size()) return false;
            Slot& slot = slots_[tail % slots_.size()];
            slot.frames = std::min(framesPerSlot_, frames - at);
            for (uint32_t c = 0; c < channels_; ++c) {
                std::memcpy(slot.samples.data() + size_t(c) * framesPerSlot_, planes[c] + at,
                            slot.frames * sizeof(float));
            }
            at += slot.frames;
            tail_.store(tail + 1, std::memory_order_release);
            ready.release();
        }
        return true;
    }

    /// The oldest buffer's planes and frame count, or nothing when empty.
    bool front(std::vector<const float*>& planes, uint32_t& frames) const {
        const size_t head = head_.load(std::memory_order_relaxed);
        if (head == tail_.load(std::memory_order_acquire)) return false;
        const Slot& slot = slots_[head % slots_.size()];
        planes.resize(channels_);
        for (uint32_t c = 0; c < channels_; ++c)
            planes[c] = slot.samples.data() + size_t(c) * framesPerSlot_;
        frames = slot.frames;
        return true;
    }
    void pop() {
        head_.store(head_.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    }

    uint32_t framesPerSlot() const { return framesPerSlot_; }

    /// Released once per pushed slot, and once more when the capture ends.
    std::counting_semaphore<> ready{0};

private:
    struct Slot {
        std::vector<float> samples; // one plane per channel, framesPerSlot_ apart
        uint32_t frames = 0;
    };
    uint32_t channels_;
    uint32_t framesPerSlot_;
    std::vector<Slot> slots_;
    std::atomic<size_t> head_{0}; // next slot the consumer takes
    std::atomic<size_t> tail_{0}; // next slot the producer fills
};

[[noreturn]] void refuse(const std::string& what) {
    throw system::SystemError(CaptureBackend::errorDomain, -1, what);
}

} // namespace

// Shared by the capture object, the audio callback and the converter thread,
// so that a stop requested from inside the sample handler can leave the
// thread to finish on its own.
struct AudioCapture::State {
    SampleHandler handler;
    AudioFormat target;
    std::unique_ptr<BufferQueue> queue;
    std::unique_ptr<AudioConverter> converter; // absent: the device format is the target
    std::vector<float> converted;
    std::atomic<uint64_t> dropped{0};
    std::atomic<bool> ending{false};
    std::mutex stopMutex; // serialises pause, resume and stop
    bool stopped = false;
    std::mutex joinMutex; // one thread at a time waits for the worker
    std::thread worker;
    std::thread::id workerId;
    // Destroyed first: no callback runs once the stream is closed.
    std::unique_ptr<CaptureStream> stream;

    explicit State(const AudioFormat& targetFormat) : target(targetFormat) {}

    void deliver(std::span<const float> samples) {
        if (samples.empty()) return;
        try {
            handler(samples);
        } catch (...) {
            // A handler must not throw; the capture goes on without it.
        }
    }

    void convertAndDeliver(const float* const* planes, uint32_t frames) {
        if (!converter) {
            deliver({planes[0], frames});
            return;
        }
        float* out[] = {converted.data()};
        const int64_t written = converter->convert(planes, frames, out, uint32_t(converted.size()));
        if (written > 0) deliver({converted.data(), size_t(written)});
    }

    void run() {
        std::vector<const float*> planes;
        uint32_t frames = 0;
        for (;;) {
            queue->ready.acquire();
            if (queue->front(planes, frames)) {
                convertAndDeliver(planes.data(), frames);
                queue->pop();
            } else if (ending.load()) {
                break;
            }
        }
        // The converter's look-ahead: the last samples of the recording.
        if (converter) {
            float* out[] = {converted.data()};
            for (;;) {
                const int64_t written = converter->flush(out, uint32_t(converted.size()));
                if (written > 0) deliver({converted.data(), size_t(written)});
                if (written < int64_t(converted.size())) break;
            }
        }
    }
};

AudioCapture::AudioCapture(CaptureBackend& backend, const Options& options, SampleHandler handler) {
    const auto target = AudioFormat::standard(options.sampleRate, 1);
    if (!target) refuse("Unusable capture rate");
    if (options.framesPerBuffer == 0 || options.queueLength == 0)
        refuse("Capture buffers must hold at least one frame");
    auto state = std::make_shared<State>(*target);
    state->handler = std::move(handler);
    State* raw = state.get();
    state->stream = backend.open(options.device, *target, options.framesPerBuffer,
                                 [raw](const float* const* planes, uint32_t frames) {
                                     if (!raw->queue->push(planes, frames))
                                         raw->dropped.fetch_add(1);
                                 });
    const AudioFormat& device = state->stream->format();
    state->queue =
        std::make_unique<BufferQueue>(options.queueLength, device.channelCount(),
                                      std::max<uint32_t>(state->stream->framesPerBuffer(), 1));
    if (device != *target) {
        state->converter = AudioConverter::make(device, *target);
        if (!state->converter) refuse("Cannot convert the device's audio");
        const double ratio = target->sampleRate() / device.sampleRate();
        state->converted.resize(size_t(std::ceil(state->queue->framesPerSlot() * ratio)) + 64);
    }
    state->worker = std::thread([state] { state->run(); });
    state->workerId = state->worker.get_id();
    try {
        state->stream->start();
    } catch (...) {
        state->ending = true;
        state->queue->ready.release();
        state->worker.join();
        throw;
    }
    state_ = std::move(state);
}

AudioCapture::~AudioCapture() {
    stop();
    // Still running only when the capture goes away inside its own handler:
    // the thread finishes after the handler returns, keeping the state alive.
    std::lock_guard lock(state_->joinMutex);
    if (state_->worker.joinable()) state_->worker.detach();
}

void AudioCapture::pause() {
    std::lock_guard lock(state_->stopMutex);
    if (!state_->stopped) state_->stream->stop();
}

void AudioCapture::resume() {
    std::lock_guard lock(state_->stopMutex);
    if (state_->stopped) refuse("The capture has ended");
    state_->stream->start();
}

void AudioCapture::stop() {
    {
        std::lock_guard lock(state_->stopMutex);
        if (!state_->stopped) {
            state_->stopped = true;
            // No buffer arrives after this; the queue then holds the whole rest.
            state_->stream->stop();
            state_->ending = true;
            state_->queue->ready.release();
        }
    }
    // Inside the handler there is nothing to wait for: the rest is delivered
    // after it returns.
    if (std::this_thread::get_id() == state_->workerId) return;
    std::lock_guard lock(state_->joinMutex);
    if (state_->worker.joinable()) state_->worker.join();
}

const AudioFormat& AudioCapture::deviceFormat() const {
    return state_->stream->format();
}

uint64_t AudioCapture::droppedBuffers() const {
    return state_->dropped.load();
}

} // namespace platform::audio
