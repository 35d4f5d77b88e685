// The record store rereads the whole file for every operation and rewrites
// it for every record: what that costs once years of dictations are stored.

#include "halvex_zovuruv/core/Log.h"
#include "halvex_zovuruv/core/RecordCoding.h"
#include "halvex_zovuruv/core/Stats.h"
#include "platform/system/TemporaryDirectory.h"

#include <benchmark/benchmark.h>
#include <fstream>

namespace {

/// A store of `count` records of a typical 300-character dictation.
struct Store {
    platform::system::TemporaryDirectory dir{"zv-stats-bench-"};
    halvex::Stats stats{dir / "stats.json"};

    explicit Store(int64_t count) {
        halvex::Log::redirect(dir / "log.txt");
        const std::string text = "Добрый день, коллеги. Отправляю отчёт за квартал, посмотрите, "
                                 "пожалуйста, раздел о расходах до пятницы. Спасибо.";
        std::vector<halvex::DictationRecord> records;
        for (int64_t i = 0; i < count; ++i) {
            records.push_back({halvex::Date{7e8 + 600.0 * static_cast<double>(i)},
                               text + text + text, 300, 45, 12.5, 1.25, i % 3 == 0});
        }
        std::ofstream(stats.file(), std::ios::binary) << *halvex::encodeRecords(records);
    }
    ~Store() { halvex::Log::redirect(std::nullopt); }
};

void BM_LoadAll(benchmark::State& state) {
    Store store(state.range(0));
    for (auto _ : state)
        benchmark::DoNotOptimize(store.stats.loadAll());
}
BENCHMARK(BM_LoadAll)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_Record(benchmark::State& state) {
    Store store(state.range(0));
    for (auto _ : state)
        store.stats.record("Ещё одна короткая диктовка для проверки.", 4, 0.5, false);
}
BENCHMARK(BM_Record)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_DailyBuckets(benchmark::State& state) {
    Store store(state.range(0));
    for (auto _ : state)
        benchmark::DoNotOptimize(store.stats.dailyBuckets(7));
}
BENCHMARK(BM_DailyBuckets)->Arg(10000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
