#pragma once
// Audio files made at test time: a private temporary folder, WAV files
// written sample by sample, other formats encoded from them with the ffmpeg
// command-line tool, and signal measurements to check what comes back.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <stdexcept>
#include <string>
#include <vector>

namespace zvtest {

namespace fs = std::filesystem;

/// A fresh folder under the system's temporary folder, removed with its
/// contents when the object goes away.
class TempFolder {
public:
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "zv-audio-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary folder");
        path_ = pattern;
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const fs::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    fs::path path_;
};

/// `frames` frames of a sine of `frequency` Hz at `rate`, interleaved over
/// `channels` channels; channel c has amplitude `amplitude` / (c + 1).
inline std::vector<float> sine(double frequency, int rate, int64_t frames, int channels = 1,
                               float amplitude = 0.5f) {
    std::vector<float> samples(size_t(frames) * channels);
    for (int64_t i = 0; i < frames; ++i) {
        const float value = float(std::sin(2.0 * std::numbers::pi * frequency * double(i) / rate));
        for (int c = 0; c < channels; ++c)
            samples[size_t(i) * channels + c] = value * amplitude / float(c + 1);
    }
    return samples;
}

inline void putLe(std::ofstream& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.put(char((value >> (8 * i)) & 0xff));
}

/// Writes interleaved samples as a WAV file: 16-bit integers or 32-bit
/// floats. `statedDataBytes`, when given, replaces the true data size in the
/// header (to make a header that lies).
inline void writeWav(const std::string& path, int rate, int channels,
                     const std::vector<float>& samples, bool floatSamples = false,
                     int64_t statedDataBytes = -1) {
    std::ofstream out(path, std::ios::binary);
    const int bytesPerSample = floatSamples ? 4 : 2;
    const uint32_t dataBytes = uint32_t(samples.size() * bytesPerSample);
    const uint32_t stated = statedDataBytes >= 0 ? uint32_t(statedDataBytes) : dataBytes;
    out.write("RIFF", 4);
    putLe(out, 36 + stated, 4);
    out.write("WAVEfmt ", 8);
    putLe(out, 16, 4);
    putLe(out, floatSamples ? 3 : 1, 2);
    putLe(out, uint32_t(channels), 2);
    putLe(out, uint32_t(rate), 4);
    putLe(out, uint32_t(rate * channels * bytesPerSample), 4);
    putLe(out, uint32_t(channels * bytesPerSample), 2);
    putLe(out, uint32_t(bytesPerSample * 8), 2);
    out.write("data", 4);
    putLe(out, stated, 4);
    for (float sample : samples) {
        if (floatSamples) {
            uint32_t bits;
            std::memcpy(&bits, &sample, 4);
            putLe(out, bits, 4);
        } else {
            const long value = std::lround(std::clamp(sample, -1.0f, 1.0f) * 32767.0f);
            putLe(out, uint32_t(int16_t(value)) & 0xffff, 2);
        }
    }
}

/// A folder for the whole test program, removed when it ends, that holds
/// "sine.wav": five seconds of 440 Hz at 44.1 kHz in 16-bit stereo, the left
/// channel at amplitude 0.5 and the right at 0.25.
inline const TempFolder& sineFolder() {
    static const TempFolder folder;
    static const bool written =
        (writeWav(folder.file("sine.wav"), 44100, 2, sine(440, 44100, 5 * 44100, 2)), true);
    (void)written;
    return folder;
}

/// Encodes `input` into `output` with the ffmpeg tool and the given output
/// options; true when the tool succeeded.
inline bool ffmpegEncode(const std::string& input, const std::string& output,
                         const std::string& options) {
    const std::string command = "ffmpeg -nostdin -hide_banner -loglevel error -y -i '" + input +
                                "' " + options + " '" + output + "' 2>&1";
    return std::system(command.c_str()) == 0;
}

/// The frequency of a steady tone, from its rising zero crossings, measured
/// away from the edges.
inline double toneFrequency(const std::vector<float>& samples, int rate) {
    const size_t margin = samples.size() / 10;
    size_t first = 0, last = 0;
    int crossings = 0;
    for (size_t i = margin + 1; i + margin < samples.size(); ++i) {
        if (samples[i - 1] < 0.0f && samples[i] >= 0.0f) {
            if (crossings == 0) first = i;
            last = i;
            ++crossings;
        }
    }
    if (crossings < 2) return 0.0;
    return double(crossings - 1) * rate / double(last - first);
}

/// Root mean square of the samples from `begin` to `end`.
inline double rms(const std::vector<float>& samples, size_t begin = 0, size_t end = SIZE_MAX) {
    end = std::min(end, samples.size());
    double sum = 0.0;
    for (size_t i = begin; i < end; ++i)
        sum += double(samples[i]) * samples[i];
    return end > begin ? std::sqrt(sum / double(end - begin)) : 0.0;
}

} // namespace zvtest
