#include "halvex_zovuruv/Transcriber.h"
#include "murmex/core/Murmex.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <stdexcept>
#include <thread>

namespace {

using namespace std::chrono_literals;

TEST(TranscriberLoad, CallersShareOneLoadAndAFailedLoadIsRetriedOnce) {
    auto engine = murmex::Murmex::create(
        murmex::MurmexConfig{.verbose = false, .load = false, .download = false});
    // Repeated, since the stale-waiter race only shows when a waiter of the
    // failed load runs its clean-up after another has started the next load.
    for (int round = 0; round < 10; ++round) {
        std::atomic<int> loads{0};
        halvex::Transcriber transcriber([&] {
            const int n = ++loads;
            std::this_thread::sleep_for(20ms);
            if (n == 1) throw std::runtime_error("no network");
            return engine;
        });
        constexpr int kCallers = 8;
        std::atomic<int> failures{0};
        std::vector<std::shared_ptr<murmex::Murmex>> engines(kCallers);
        std::vector<std::thread> callers;
        for (int i = 0; i < kCallers; ++i) {
            callers.emplace_back([&, i] {
                try {
                    engines[i] = transcriber.loadedMurmex();
                } catch (const std::runtime_error&) {
                    ++failures;
                    engines[i] =
                        transcriber.loadedMurmex(); // the retry starts or joins one new load
                }
            });
        }
        for (auto& caller : callers)
            caller.join();
        EXPECT_EQ(loads.load(), 2) << "round " << round;
        EXPECT_GE(failures.load(), 1) << "round " << round;
        for (const auto& e : engines)
            EXPECT_EQ(e, engine) << "round " << round;
        EXPECT_EQ(transcriber.loadedMurmex(), engine);
        EXPECT_EQ(loads.load(), 2);
    }
}

} // namespace
