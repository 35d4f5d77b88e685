// Speed of the Whisper stages at published model sizes, with random weights
// generated into a temporary folder: mel time per 30-second window, encoder
// time per window, decoder time per token (cross-attention cache warm),
// plus peak resident memory and the threads used.
//
// sgemm_ceiling/<preset> times the matrix library on its own, with its own
// threads, on the encoder's largest product (fc1: 1500 positions, width d
// to 4d): the rate the encoder's products could reach at best. The encoder
// reports its rate over the same count of operations, and a summary line
// per preset gives the encoder's share of that ceiling (best of the runs).
//
//   ml_bench [--threads=N] [--keep-models=DIR] [benchmark flags]
//
// --threads defaults to the processors this process may use.

#include "model_gen/ModelGenerator.h"
#include "platform/ml/DictionaryFeatureProvider.h"
#include "platform/ml/Model.h"
#include "platform/ml/Runtime.h"
#include "platform/ml/kernels/ThreadPool.h"
#include "platform/system/MachineInfo.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cblas.h>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

using platform::ml::DictionaryFeatureProvider;
using platform::ml::ElementType;
using platform::ml::Model;
using platform::ml::MultiArray;

std::filesystem::path modelRoot;
bool keepModels = false;
int threads = 0;

// Best rates seen per preset, in floating-point operations per second.
struct Rates {
    double ceiling = 0;
    double encoder = 0;
};
std::map<std::string, Rates> bestRates;

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

// Multiply-adds of one encoder window, counted twice (one multiply, one add):
// the two convolutions, then per layer the four attention projections, the
// two feed-forward products and the two attention products over positions.
double encoderOperations(const platform::ml::WhisperDimensions& dims) {
    const double d = static_cast<double>(dims.nAudioState);
    const double t = static_cast<double>(dims.nAudioCtx);
    const double frames = static_cast<double>(dims.nFrames());
    const double convolutions =
        2 * frames * 3 * static_cast<double>(dims.nMels) * d + 2 * t * 3 * d * d;
    const double layer = 8 * t * d * d + 16 * t * d * d + 4 * t * t * d;
    return convolutions + static_cast<double>(dims.nAudioLayer) * layer;
}

// Reports operations per second as a counter; returns the rate.
double recordRate(benchmark::State& state, double operationsPerIteration,
                  std::chrono::steady_clock::time_point start) {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.counters["GFLOPS"] = benchmark::Counter(operationsPerIteration * 1e-9,
                                                  benchmark::Counter::kIsIterationInvariantRate);
    return operationsPerIteration * static_cast<double>(state.iterations()) /
           std::max(seconds, 1e-9);
}

// The matrix library with its own threads on the encoder's fc1 product.
void sgemmCeiling(benchmark::State& state, std::string preset) {
    const auto dims = *modelgen::presetDimensions(preset);
    const auto m = static_cast<blasint>(dims.nAudioCtx);
    const auto k = static_cast<blasint>(dims.nAudioState);
    const auto n = 4 * k;
    std::mt19937 random(1);
    std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
    std::vector<float> a(static_cast<size_t>(m * k)), b(static_cast<size_t>(n * k)),
        c(static_cast<size_t>(m * n));
    for (float& v : a)
        v = uniform(random);
    for (float& v : b)
        v = uniform(random);
    openblas_set_num_threads(threads);
    auto product = [&] {
        cblas_sgemm(CblasRowMajor, CblasNoTrans, CblasTrans, m, n, k, 1.0f, a.data(), k, b.data(),
                    k, 0.0f, c.data(), n);
    };
    product(); // the library's threads start
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        product();
        benchmark::DoNotOptimize(c.data());
    }
    const double rate = recordRate(state, 2.0 * m * n * k, start);
    openblas_set_num_threads(1); // the runtime runs the library single-threaded
    bestRates[preset].ceiling = std::max(bestRates[preset].ceiling, rate);
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
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state)
        benchmark::DoNotOptimize(m.encoder->prediction(input));
    const double rate = recordRate(state, encoderOperations(m.dims), start);
    bestRates[preset].encoder = std::max(bestRates[preset].encoder, rate);
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

// One loop over the pool with 5 us of work per thread: what it takes beyond
// 5 us is the cost of handing work to the workers and waiting for them, paid
// by every split product.
void poolLoop(benchmark::State& state) {
    auto& pool = platform::ml::kernels::ThreadPool::shared();
    const auto width = static_cast<size_t>(pool.threadCount());
    for (auto _ : state) {
        pool.parallelFor(width, 1, [](size_t, size_t) {
            const auto end = std::chrono::steady_clock::now() + std::chrono::microseconds(5);
            while (std::chrono::steady_clock::now() < end) {
            }
        });
    }
}

} // namespace

int main(int argc, char** argv) {
    threads = platform::system::MachineInfo::availableProcessorCount();
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
    threads = std::max(1, threads);
    platform::ml::Runtime::setThreadCount(threads);
    // The fastest repetition: on a busy machine the least disturbed one.
    auto minimum = [](const std::vector<double>& v) {
        return *std::min_element(v.begin(), v.end());
    };
    benchmark::RegisterBenchmark("pool_loop", poolLoop)
        ->Unit(benchmark::kMicrosecond)
        ->UseRealTime()
        ->ComputeStatistics("min", minimum);
    for (const char* preset : {"tiny", "base", "large-v3-turbo"}) {
        std::string name = preset;
        benchmark::RegisterBenchmark(("mel_window/" + name).c_str(), melWindow, name)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->ComputeStatistics("min", minimum);
        benchmark::RegisterBenchmark(("sgemm_ceiling/" + name).c_str(), sgemmCeiling, name)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->ComputeStatistics("min", minimum);
        benchmark::RegisterBenchmark(("encoder_window/" + name).c_str(), encoderWindow, name)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->ComputeStatistics("min", minimum);
        benchmark::RegisterBenchmark(("decoder_token/" + name).c_str(), decoderToken, name)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->ComputeStatistics("min", minimum);
    }
    int count = static_cast<int>(rest.size());
    benchmark::Initialize(&count, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    for (const auto& [preset, rates] : bestRates) {
        if (rates.ceiling > 0 && rates.encoder > 0) {
            std::printf("encoder %s at %d threads: %.1f GFLOPS, %.0f %% of the sgemm ceiling "
                        "%.1f GFLOPS\n",
                        preset.c_str(), threads, rates.encoder * 1e-9,
                        100.0 * rates.encoder / rates.ceiling, rates.ceiling * 1e-9);
        }
    }
    if (!keepModels) std::filesystem::remove_all(modelRoot);
    return 0;
}
