// Seconds to load an audio file and convert it to 16 kHz mono samples, the
// way file transcription does (AudioProcessor::loadAudioAsFloatArray).
//
// The source files are written once into a temporary folder: one hour of
// 44.1 kHz stereo 16-bit WAV (about 635 MB), and ten minutes of the same
// signal as FLAC and MP3 when the ffmpeg tool is there.
//
//   audio_bench --benchmark_filter=Wav

#include "murmex/core/audio/AudioProcessor.h"
#include "platform/audio/AudioFixtures.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <numbers>

namespace {

/// Writes `seconds` of a two-tone 44.1 kHz stereo signal as 16-bit WAV,
/// block by block so that the signal never sits in memory whole.
void writeLongWav(const std::string& path, int seconds) {
    constexpr int rate = 44100;
    std::ofstream out(path, std::ios::binary);
    const uint32_t dataBytes = uint32_t(int64_t(seconds) * rate * 4);
    out.write("RIFF", 4);
    zvtest::putLe(out, 36 + dataBytes, 4);
    out.write("WAVEfmt ", 8);
    for (auto [value, bytes] : {std::pair{16u, 4},
                                {1u, 2},
                                {2u, 2},
                                {uint32_t(rate), 4},
                                {uint32_t(rate * 4), 4},
                                {4u, 2},
                                {16u, 2}}) {
        zvtest::putLe(out, value, bytes);
    }
    out.write("data", 4);
    zvtest::putLe(out, dataBytes, 4);
    std::vector<int16_t> block(2 * rate);
    for (int second = 0; second < seconds; ++second) {
        for (int i = 0; i < rate; ++i) {
            const double t = second + double(i) / rate;
            block[2 * i] = int16_t(9000 * std::sin(2 * std::numbers::pi * 440 * t));
            block[2 * i + 1] = int16_t(7000 * std::sin(2 * std::numbers::pi * 1234 * t));
        }
        out.write(reinterpret_cast<const char*>(block.data()), std::streamsize(block.size() * 2));
    }
}

zvtest::TempFolder& folder() {
    static zvtest::TempFolder folder;
    return folder;
}

const std::string& hourWav() {
    static const std::string path = [] {
        std::string file = folder().file("hour.wav");
        writeLongWav(file, 3600);
        return file;
    }();
    return path;
}

const std::string& tenMinutes(const std::string& extension) {
    static std::map<std::string, std::string> made;
    auto it = made.find(extension);
    if (it != made.end()) return it->second;
    const std::string wav = folder().file("ten.wav");
    if (!std::filesystem::exists(wav)) writeLongWav(wav, 600);
    std::string path = wav;
    if (extension != "wav") {
        path = folder().file("ten." + extension);
        if (!zvtest::ffmpegEncode(wav, path, extension == "mp3" ? "-b:a 128k" : "")) path.clear();
    }
    return made.emplace(extension, path).first->second;
}

void load(benchmark::State& state, const std::string& path, double seconds) {
    if (path.empty()) {
        state.SkipWithError("source file could not be made");
        return;
    }
    size_t samples = 0;
    for (auto _ : state) {
        auto result = murmex::AudioProcessor::loadAudioAsFloatArray(path);
        samples = result.size();
        benchmark::DoNotOptimize(result.data());
    }
    state.counters["samples"] = double(samples);
    state.counters["audio_seconds_per_second"] =
        benchmark::Counter(seconds * double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_LoadOneHourWav44kStereo(benchmark::State& state) {
    load(state, hourWav(), 3600);
}
BENCHMARK(BM_LoadOneHourWav44kStereo)->Unit(benchmark::kSecond)->Iterations(3);

void BM_LoadTenMinutesFlac44kStereo(benchmark::State& state) {
    load(state, tenMinutes("flac"), 600);
}
BENCHMARK(BM_LoadTenMinutesFlac44kStereo)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_LoadTenMinutesMp344kStereo(benchmark::State& state) {
    load(state, tenMinutes("mp3"), 600);
}
BENCHMARK(BM_LoadTenMinutesMp344kStereo)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

BENCHMARK_MAIN();
