// The first load of a tokenizer folder in a fresh process, as the engine
// does it at start: read and parse the two documents, then build the
// tokenizer. Prints the CPU time of each step and the page faults they took
// (a fresh process pays for every page of memory it touches for the first
// time, which the repeated loads of tokenizers_bench do not show).
//
//   tokenizer_load [folder]   (default: the project's Whisper tokenizer folder)
//
// Run it several times and quote the median: one run is one sample.

#include "hub/LanguageModelConfigurationFromHub.h"
#include "tokenizers/PreTrainedTokenizer.h"

#include <cstdio>
#include <ctime>
#include <exception>
#include <sys/resource.h>

namespace {

double cpuMilliseconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) * 1e-6;
}

long pageFaults() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt + usage.ru_majflt;
}

} // namespace

int main(int argc, char** argv) {
    const char* folder = argc > 1 ? argv[1] : ZV_WHISPER_TOKENIZER_FOLDER;
    try {
        const double start = cpuMilliseconds();
        const long startFaults = pageFaults();
        const auto documents =
            hub::LanguageModelConfigurationFromHub::loadConfig(std::filesystem::path(folder));
        const double parsed = cpuMilliseconds();
        const long parsedFaults = pageFaults();
        const tokenizers::PreTrainedTokenizer tokenizer(*documents.tokenizerConfig,
                                                        documents.tokenizerData);
        const double built = cpuMilliseconds();
        const long builtFaults = pageFaults();
        std::printf("documents %.1f ms (%ld faults), tokenizer %.1f ms (%ld faults), "
                    "first load %.1f ms CPU\n",
                    parsed - start, parsedFaults - startFaults, built - parsed,
                    builtFaults - parsedFaults, built - start);
        return tokenizer.convertTokenToId("<|endoftext|>") ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tokenizer_load: %s\n", e.what());
        return 1;
    }
}
