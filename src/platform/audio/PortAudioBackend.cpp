// The system capture backend on PortAudio. PortAudio is reference-counted
// library state that is not safe to call from several threads at once, so
// every call except the audio callback itself goes through one lock. Each
// open stream holds its own reference to the library; a device listing takes
// a fresh one, so that it sees devices added since the last listing whenever
// no stream is open.

#include "platform/audio/CaptureBackend.h"
#include "platform/system/SystemError.h"

#include <cmath>
#include <dlfcn.h>
#include <mutex>
#include <portaudio.h>

namespace platform::audio {

namespace {

std::mutex& libraryMutex() {
    static std::mutex mutex;
    return mutex;
}

[[noreturn]] void fail(PaError code, const std::string& what) {
    throw system::SystemError(CaptureBackend::errorDomain, code,
                              what + ": " + Pa_GetErrorText(code));
}

void ignoreAlsaMessage(const char*, int, const char*, int, const char*, ...) {}
void ignoreJackMessage(const char*) {}

/// PortAudio probes every sound interface it knows, and the ALSA and JACK
/// libraries it loads write a line to standard error for every interface
/// that is not there (unconfigured cards, no JACK server). Their message
/// hooks are set to drop those lines. Both libraries come with PortAudio,
/// so they are looked up in the process rather than linked.
void quietenSoundLibraries() {
    using AlsaHandler = void (*)(const char*, int, const char*, int, const char*, ...);
    using JackHandler = void (*)(const char*);
    if (auto set = reinterpret_cast<int (*)(AlsaHandler)>(
            dlsym(RTLD_DEFAULT, "snd_lib_error_set_handler"))) {
        set(&ignoreAlsaMessage);
    }
    for (const char* name : {"jack_set_error_function", "jack_set_info_function"}) {
        if (auto set = reinterpret_cast<void (*)(JackHandler)>(dlsym(RTLD_DEFAULT, name)))
            set(&ignoreJackMessage);
    }
}

/// One reference to the initialised library; the caller holds libraryMutex().
class Library {
public:
    Library() {
        static const bool quiet = (quietenSoundLibraries(), true);
        (void)quiet;
        const PaError status = Pa_Initialize();
        if (status != paNoError) fail(status, "Cannot start the audio library");
    }
    ~Library() { Pa_Terminate(); }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
};

/// Input devices of the default host interface (ALSA, where the sound
/// server's plugin lives), so that one device is not listed once per
/// interface. The caller holds a Library.
std::vector<InputDevice> listInputDevices() {
    std::vector<InputDevice> devices;
    const PaHostApiIndex host = Pa_GetDefaultHostApi();
    const PaHostApiInfo* hostInfo = host >= 0 ? Pa_GetHostApiInfo(host) : nullptr;
    if (!hostInfo) return devices;
    for (int i = 0; i < hostInfo->deviceCount; ++i) {
        const PaDeviceIndex index = Pa_HostApiDeviceIndexToDeviceIndex(host, i);
        const PaDeviceInfo* info = index >= 0 ? Pa_GetDeviceInfo(index) : nullptr;
        if (!info || info->maxInputChannels < 1) continue;
        devices.push_back({uint32_t(index), info->name ? info->name : "",
                           uint32_t(info->maxInputChannels), info->defaultSampleRate});
    }
    return devices;
}

class PortAudioStream final : public CaptureStream {
public:
    PortAudioStream(std::optional<uint32_t> device, const AudioFormat& preferred,
                    uint32_t framesPerBuffer, CaptureCallback callback)
        : callback_(std::move(callback)), format_(preferred) {
        std::lock_guard lock(libraryMutex());
        library_.emplace();
        const PaDeviceIndex index = device ? PaDeviceIndex(*device) : Pa_GetDefaultInputDevice();
        if (index == paNoDevice) fail(paDeviceUnavailable, "No input device");
        static_assert(CaptureBackend::deviceNotFound == paInvalidDevice);
        if (index < 0 || index >= Pa_GetDeviceCount()) fail(paInvalidDevice, "No input device");
        const PaDeviceInfo* info = Pa_GetDeviceInfo(index);
        if (!info || info->maxInputChannels < 1) fail(paInvalidDevice, "Not an input device");

        PaStreamParameters input{};
        input.device = index;
        input.channelCount =
            int(std::min<uint32_t>(preferred.channelCount(), uint32_t(info->maxInputChannels)));
        input.sampleFormat = paFloat32 | paNonInterleaved;
        input.suggestedLatency = info->defaultHighInputLatency;
        double rate = preferred.sampleRate();
        if (Pa_IsFormatSupported(&input, nullptr, rate) != paFormatIsSupported)
            rate = info->defaultSampleRate;
        const auto format = AudioFormat::standard(rate, uint32_t(input.channelCount));
        if (!format) fail(paInvalidSampleRate, "Unusable input format");
        format_ = *format;
        frames_ = uint32_t(
            std::max(1.0, std::round(double(framesPerBuffer) * rate / preferred.sampleRate())));
        const PaError status =
            Pa_OpenStream(&stream_, &input, nullptr, rate, frames_, paClipOff, &deliver, this);
        if (status != paNoError) fail(status, std::string("Cannot open ") + info->name);
    }

    ~PortAudioStream() override {
        std::lock_guard lock(libraryMutex());
        if (stream_) Pa_CloseStream(stream_);
        library_.reset();
    }

    const AudioFormat& format() const override { return format_; }
    uint32_t framesPerBuffer() const override { return frames_; }

    void start() override {
        std::lock_guard lock(libraryMutex());
        if (Pa_IsStreamActive(stream_) == 1) return;
        const PaError status = Pa_StartStream(stream_);
        if (status != paNoError) fail(status, "Cannot start capture");
    }

    void stop() override {
        std::lock_guard lock(libraryMutex());
        // Aborted rather than stopped: a stop waits for the device's next
        // buffer, which a stalled or unplugged device never sends. At most
        // the buffer being captured is lost.
        if (Pa_IsStreamStopped(stream_) == 0) Pa_AbortStream(stream_);
    }

private:
    static int deliver(const void* input, void*, unsigned long frames,
                       const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags, void* self) {
        if (input && frames > 0) {
            static_cast<PortAudioStream*>(self)->callback_(static_cast<const float* const*>(input),
                                                           uint32_t(frames));
        }
        return paContinue;
    }

    CaptureCallback callback_;
    AudioFormat format_;
    uint32_t frames_ = 0;
    std::optional<Library> library_;
    PaStream* stream_ = nullptr;
};

class PortAudioBackend final : public CaptureBackend {
public:
    std::vector<InputDevice> inputDevices() override {
        std::lock_guard lock(libraryMutex());
        Library library;
        return listInputDevices();
    }

    std::optional<InputDevice> defaultInputDevice() override {
        std::lock_guard lock(libraryMutex());
        Library library;
        const PaDeviceIndex index = Pa_GetDefaultInputDevice();
        for (InputDevice& device : listInputDevices()) {
            if (index >= 0 && device.id == uint32_t(index)) return device;
        }
        return std::nullopt;
    }

    std::unique_ptr<CaptureStream> open(std::optional<uint32_t> device,
                                        const AudioFormat& preferred, uint32_t framesPerBuffer,
                                        CaptureCallback callback) override {
        return std::make_unique<PortAudioStream>(device, preferred, framesPerBuffer,
                                                 std::move(callback));
    }
};

} // namespace

std::shared_ptr<CaptureBackend> CaptureBackend::system() {
    static const std::shared_ptr<CaptureBackend> backend = std::make_shared<PortAudioBackend>();
    return backend;
}

} // namespace platform::audio
