// Costs of the runtime support that sits on every hot path of the engine:
// a filtered-out log line, lock-guarded reads and changes, early-stop checks,
// number text, hashing and the worker group's per-batch overhead.

#include "platform/system/Sha256.h"
#include "platform/system/WorkerGroup.h"
#include "platform/text/NumberText.h"
#include "tessary_core/EarlyStopActor.h"
#include "tessary_core/Logging.h"
#include "tessary_core/PropertyLock.h"

#include <benchmark/benchmark.h>
#include <string>
#include <vector>

namespace {

void BM_FilteredLogLine(benchmark::State& state) {
    tessary::Logging::shared().setLogLevel(tessary::Logging::LogLevel::none);
    double value = 0.25;
    for (auto _ : state) {
        tessary::Logging::debug("Decoding step", 42, value);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_FilteredLogLine);

void BM_EmittedLogLineToCallback(benchmark::State& state) {
    auto& logging = tessary::Logging::shared();
    size_t total = 0;
    logging.setLoggingCallback([&](const std::string& line) { total += line.size(); });
    logging.setLogLevel(tessary::Logging::LogLevel::debug);
    for (auto _ : state)
        tessary::Logging::debug("Decoding step", 42, 0.25);
    logging.setLogLevel(tessary::Logging::LogLevel::none);
    logging.setLoggingCallback({});
    benchmark::DoNotOptimize(total);
}
BENCHMARK(BM_EmittedLogLineToCallback);

void BM_PropertyLockRead(benchmark::State& state) {
    tessary::PropertyLock<double> value(1.5);
    for (auto _ : state)
        benchmark::DoNotOptimize(value.get());
}
BENCHMARK(BM_PropertyLockRead)->ThreadRange(1, 4);

void BM_PropertyLockAppend(benchmark::State& state) {
    tessary::PropertyLock<std::vector<int>> tokens;
    for (auto _ : state) {
        tokens.modify([](std::vector<int>& v) {
            v.push_back(1);
            if (v.size() > 4096) v.clear();
        });
    }
}
BENCHMARK(BM_PropertyLockAppend);

void BM_EarlyStopCheck(benchmark::State& state) {
    tessary::EarlyStopActor actor;
    auto id = platform::system::Uuid::random();
    actor.set(false, id);
    for (auto _ : state)
        benchmark::DoNotOptimize(actor.get(id));
}
BENCHMARK(BM_EarlyStopCheck);

void BM_ShortestText(benchmark::State& state) {
    double value = 0.1234567;
    for (auto _ : state) {
        benchmark::DoNotOptimize(platform::text::shortestText(value));
        value += 1e-7;
    }
}
BENCHMARK(BM_ShortestText);

void BM_Sha256(benchmark::State& state) {
    std::string block(static_cast<size_t>(state.range(0)), 'x');
    for (auto _ : state)
        benchmark::DoNotOptimize(platform::system::Sha256::hash(block));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Sha256)->Arg(1 << 20);

void BM_WorkerGroupBatch(benchmark::State& state) {
    const size_t jobs = static_cast<size_t>(state.range(0));
    for (auto _ : state) {
        platform::system::WorkerGroup group(16);
        benchmark::DoNotOptimize(group.run(jobs, [](size_t i) { return i * 2; }));
    }
}
BENCHMARK(BM_WorkerGroupBatch)->Arg(1)->Arg(16)->Arg(64);

} // namespace

BENCHMARK_MAIN();
