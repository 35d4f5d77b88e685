// Downloading one large file from a model hub on 127.0.0.1: the hub client's
// per-file step (metadata request, ranged-capable transfer in 10 MiB chunks,
// SHA-256 verification, move, metadata file) against the curl command on the
// same file in the same run. The file is 1 GiB unless ZV_HUB_BENCH_BYTES says
// otherwise; it is generated into a temporary folder and removed afterwards.
//
// Each benchmark prints the throughput ratio (ours / curl) from the median
// times and the peak resident memory of this process, which runs the
// loopback hub and our downloader: it stays flat whatever the file size.
//
//     build/release/bench/hub/hub_bench

#include "hub/Downloader.h"
#include "hub/HubFileDownloader.h"
#include "platform/system/TemporaryDirectory.h"
#include "support/TestHub.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sys/resource.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

int64_t fileSize() {
    if (const char* text = std::getenv("ZV_HUB_BENCH_BYTES")) return std::atoll(text);
    return int64_t(1) << 30;
}

struct Setup {
    platform::system::TemporaryDirectory dir{"zv-hub-bench-"};
    zvtest::TestHub server;
    int64_t size = fileSize();

    Setup() {
        std::string block(1 << 20, '\0');
        uint64_t x = 88172645463325252ull;
        for (char& c : block) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            c = static_cast<char>(x);
        }
        const fs::path source = dir / "source.bin";
        const int fd = ::open(source.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        for (int64_t written = 0, index = 0; written < size; ++index) {
            std::memcpy(block.data(), &index, sizeof index);
            const auto n = static_cast<size_t>(std::min<int64_t>(size - written, block.size()));
            if (::write(fd, block.data(), n) != static_cast<ssize_t>(n)) std::abort();
            written += static_cast<int64_t>(n);
        }
        // Flushed now, so that no run pays for writing the source back.
        ::fdatasync(fd);
        ::close(fd);
        zvtest::TestHub::Repository repository;
        repository.id = "bench/large";
        repository.files.push_back(zvtest::TestHub::File::onDisk("weights.bin", source, true));
        server.addRepository(repository);
    }

    std::string resolveURL() const {
        return server.endpoint() + "/bench/large/resolve/main/weights.bin";
    }
};

Setup& setup() {
    static Setup instance;
    return instance;
}

std::vector<double> oursSeconds, curlSeconds;

double peakMiB() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

template <typename Fn> double timed(Fn&& fn) {
    // Every run starts with no dirty pages of an earlier one to write back.
    ::sync();
    const auto start = std::chrono::steady_clock::now();
    fn();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// One iteration downloads the file with both, in alternating order, so that
// both meet the same machine; the reported time is ours.
void BM_HubFileDownloaderVsCurl(benchmark::State& state) {
    Setup& s = setup();
    const fs::path cache = s.dir / "cache";
    const fs::path curlTarget = s.dir / "curl.bin";
    const hub::HubApi client(cache, std::string(), s.server.endpoint(), false, false);
    const fs::path repoFolder = client.localRepoLocation({"bench/large"});
    hub::HubFileDownloader step;
    step.hub = client;
    step.repo = hub::Repo{"bench/large"};
    step.revision = "main";
    step.repoDestination = repoFolder;
    step.repoMetadataDestination = hub::HubApi::metadataLocation(repoFolder);
    step.relativeFilename = "weights.bin";
    step.qnToken = std::string();
    step.endpoint = s.server.endpoint();
    const std::string command =
        "curl -sS -L -o '" + curlTarget.string() + "' '" + s.resolveURL() + "'";

    // Argument 0: the whole per-file step (metadata request, transfer with
    // SHA-256 verification, metadata file). Argument 1: the transfer alone,
    // without a digest, which is what curl does.
    const bool transferOnly = state.range(0) == 1;
    auto transfer = [&] {
        fs::create_directories(repoFolder);
        const fs::path incomplete = repoFolder / "weights.bin.incomplete";
        std::ofstream(incomplete).close();
        hub::Downloader downloader(repoFolder / "weights.bin", incomplete);
        auto states = downloader.download(s.server.endpoint() + "/storage/" +
                                              s.server.file("bench/large", "weights.bin").sha256,
                                          std::nullopt, std::nullopt, s.size, 10.0, 5);
        for (;;) {
            const auto next = states.next();
            if (next.kind == hub::Downloader::DownloadState::Kind::completed) break;
            if (next.kind == hub::Downloader::DownloadState::Kind::failed)
                std::rethrow_exception(next.error);
        }
    };
    auto ours = [&] {
        fs::remove_all(cache);
        const double seconds = timed([&] { transferOnly ? transfer() : (void)step.download(); });
        if (fs::file_size(repoFolder / "weights.bin") != static_cast<uintmax_t>(s.size))
            state.SkipWithError("wrong size");
        oursSeconds.push_back(seconds);
        return seconds;
    };
    auto curl = [&] {
        fs::remove(curlTarget);
        curlSeconds.push_back(timed([&] {
            if (std::system(command.c_str()) != 0) state.SkipWithError("curl failed");
        }));
    };
    bool oursFirst = true;
    for (auto _ : state) {
        double seconds;
        if (oursFirst) {
            seconds = ours();
            curl();
        } else {
            curl();
            seconds = ours();
        }
        oursFirst = !oursFirst;
        state.SetIterationTime(seconds);
    }
    fs::remove_all(cache);
    fs::remove(curlTarget);
    state.SetBytesProcessed(state.iterations() * s.size);
    state.counters["ours_median_s"] = median(oursSeconds);
    state.counters["curl_median_s"] = median(curlSeconds);
    state.counters["ratio"] = median(curlSeconds) / median(oursSeconds);
    state.counters["peak_rss_MiB"] = peakMiB();
    std::printf("%s, file %.0f MiB: ours median %.3f s, curl median %.3f s, throughput ratio "
                "ours/curl %.2f; peak RSS of this process (hub and downloader) %.1f MiB\n",
                transferOnly ? "transfer alone" : "per-file step with SHA-256",
                static_cast<double>(s.size) / (1 << 20), median(oursSeconds), median(curlSeconds),
                median(curlSeconds) / median(oursSeconds), peakMiB());
    oursSeconds.clear();
    curlSeconds.clear();
}

BENCHMARK(BM_HubFileDownloaderVsCurl)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(6)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
