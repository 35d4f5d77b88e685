// Speed of the Whisper stages at published model sizes, with random weights
// generated into a temporary folder: mel time per 30-second window, encoder
// time per window, decoder time per token (cross-attention cache warm),
// plus peak resident memory and the threads used.
//
//   ml_bench [--threads=N] [--keep-models=DIR] [benchmark flags]

#include "model_gen/ModelGenerator.h"
#include "platform/ml/DictionaryFeatureProvider.h"
#include "platform/ml/Model.h"
#include "platform/ml/Runtime.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace {

using platform::ml::DictionaryFeatureProvider;
using platform::ml::ElementType;
using platform::ml::Model;
using platform::ml::MultiArray;

std::filesystem::path modelRoot;
bool keepModels = false;

struct Loaded {
    platform::ml::WhisperDimensions dims;
    std::shared_ptr<Model> mel, encoder, decoder;
};

Loaded& models(const std::string& preset) {
    static std::map<std::string, std::unique_ptr<Loaded>> cache;
    auto& slot = cache[preset];
    if (!slot) {
        modelgen::GeneratorOptions options;
        options.dimensions = *modelgen::presetDimensions(preset);
        std::filesystem::path folder = modelRoot / preset;
        if (!std::filesystem::exists(folder / "TextDecoder.mlmodelc"))
            modelgen::generateWhisperModels(folder, options);
        slot = std::make_unique<Loaded>();
        slot->dims = options.dimensions;
        slot->mel = Model::load(folder / "MelSpectrogram.mlmodelc");
        slot->encoder = Model::load(folder / "AudioEncoder.mlmodelc");
        slot->decoder = Model::load(folder / "TextDecoder.mlmodelc");
    }
    return *slot;
}

double processCpuSeconds() {
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + t.tv_usec * 1e-6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Peak memory, threads, and the CPU time of all threads per iteration: on a
// busy machine wall time depends on the neighbours, the CPU time much less.
void report(benchmark::State& state, double cpuAtStart) {
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
    state.counters["threads"] = platform::ml::Runtime::threadCount();
    state.counters["all_threads_cpu_ms"] =
        (processCpuSeconds() - cpuAtStart) * 1000.0 /
        static_cast<double>(std::max<int64_t>(1, state.iterations()));
}

MultiArray speechLikeAudio(int64_t samples) {
    MultiArray audio({samples}, ElementType::float32);
    float* data = audio.data<float>();
    for (int64_t i = 0; i < samples; ++i) {
        double t = static_cast<double>(i) / 16000.0;
        data[i] = static_cast<float>(0.3 * std::sin(2 * M_PI * 220 * t) *
                                         (0.6 + 0.4 * std::sin(2 * M_PI * 3 * t)) +
                                     0.05 * std::sin(2 * M_PI * 1800 * t));
    }
    return audio;
}

void melWindow(benchmark::State& state, std::string preset) {
    Loaded& m = models(preset);
    DictionaryFeatureProvider input;
    input.set("audio", speechLikeAudio(m.dims.nSamples()));
    double cpu = processCpuSeconds();
    for (auto _ : state)
        benchmark::DoNotOptimize(m.mel->prediction(input));
    report(state, cpu);
}

void encoderWindow(benchmark::State& state, std::string preset) {
    Loaded& m = models(preset);
    DictionaryFeatureProvider melInput;
    melInput.set("audio", speechLikeAudio(m.dims.nSamples()));
    DictionaryFeatureProvider input;
    input.set(
        "melspectrogram_features",
        *m.mel->prediction(melInput)->featureValue("melspectrogram_features")->multiArrayValue());
    double cpu = processCpuSeconds();
    for (auto _ : state)
        benchmark::DoNotOptimize(m.encoder->prediction(input));
    report(state, cpu);
}

void decoderToken(benchmark::State& state, std::string preset) {
    Loaded& m = models(preset);
    const auto& d = m.dims;
    MultiArray encoder({1, d.nAudioState, 1, d.nAudioCtx}, ElementType::float16);
    for (int64_t i = 0; i < encoder.count(); ++i)
        encoder.setValue(i, std::sin(0.001 * static_cast<double>(i)));
    // A cache holding 100 earlier tokens; this step writes position 100.
    const int64_t position = 100;
    MultiArray ids({1}, ElementType::int32), length({1}, ElementType::int32);
    ids.setValue(0, 50364);
    length.setValue(0, position);
    MultiArray keys({1, d.kvCacheEmbedDim(), 1, d.kvCacheLength}, ElementType::float16);
    MultiArray values({1, d.kvCacheEmbedDim(), 1, d.kvCacheLength}, ElementType::float16);
    keys.fill(0.1);
    values.fill(-0.1);
    MultiArray update({1, d.kvCacheLength}, ElementType::int32),
        padding({1, d.kvCacheLength}, ElementType::float16);
    padding.fill(-10000);
    for (int64_t i = 0; i <= position; ++i)
        padding.setValue(i, 0);
    update.setValue(position, 1);
    DictionaryFeatureProvider input;
    input.set("input_ids", ids);
    input.set("cache_length", length);
    input.set("key_cache", keys);
    input.set("value_cache", values);
    input.set("kv_cache_update_mask", update);
    input.set("encoder_output_embeds", encoder);
    input.set("decoder_key_padding_mask", padding);
    m.decoder->prediction(input); // computes the cross-attention keys and values once
    double cpu = processCpuSeconds();
    for (auto _ : state)
        benchmark::DoNotOptimize(m.decoder->prediction(input));
    report(state, cpu);
}

} // namespace

int main(int argc, char** argv) {
    int threads = 4;
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--threads=", 10) == 0) {
            threads = std::atoi(argv[i] + 10);
        } else if (std::strncmp(argv[i], "--keep-models=", 14) == 0) {
            modelRoot = argv[i] + 14;
            keepModels = true;
        } else {
            rest.push_back(argv[i]);
        }
    }
    if (modelRoot.empty()) {
        modelRoot =
            std::filesystem::temp_directory_path() / ("zv-ml-bench-" + std::to_string(::getpid()));
    }
    platform::ml::Runtime::setThreadCount(threads);
    for (const char* preset : {"tiny", "base", "large-v3-turbo"}) {
        std::string name = preset;
        benchmark::RegisterBenchmark(("mel_window/" + name).c_str(), melWindow, name)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("encoder_window/" + name).c_str(), encoderWindow, name)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("decoder_token/" + name).c_str(), decoderToken, name)
            ->Unit(benchmark::kMillisecond);
    }
    int count = static_cast<int>(rest.size());
    benchmark::Initialize(&count, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (!keepModels) std::filesystem::remove_all(modelRoot);
    return 0;
}
