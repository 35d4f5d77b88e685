// zv-convert: turns a Whisper checkpoint folder (config.json and safetensors)
// into the runtime's model folders.
//   zv-convert --checkpoint DIR --out DIR [--float32] [--kv-cache-length N]
//              [--alignment-heads L:H,L:H,...]

#include "convert/CheckpointConverter.h"

#include <cstdio>
#include <exception>
#include <sstream>
#include <string>

int main(int argc, char** argv) {
    std::string checkpoint, out;
    convert::ConvertOptions options;
    auto usage = [] {
        std::fprintf(
            stderr,
            "usage: zv-convert --checkpoint DIR --out DIR [--float32] [--kv-cache-length N] "
            "[--alignment-heads L:H,...]\n");
        return 2;
    };
    try {
        for (int i = 1; i < argc; ++i) {
            std::string arg = argv[i];
            auto next = [&]() -> std::string {
                if (i + 1 >= argc) throw std::invalid_argument("missing value after " + arg);
                return argv[++i];
            };
            if (arg == "--checkpoint")
                checkpoint = next();
            else if (arg == "--out")
                out = next();
            else if (arg == "--float32")
                options.weightType = platform::ml::ElementType::float32;
            else if (arg == "--kv-cache-length")
                options.kvCacheLength = std::stoll(next());
            else if (arg == "--alignment-heads") {
                std::vector<std::pair<int64_t, int64_t>> heads;
                std::stringstream list(next());
                std::string pair;
                while (std::getline(list, pair, ',')) {
                    auto colon = pair.find(':');
                    if (colon == std::string::npos)
                        throw std::invalid_argument("alignment head must be LAYER:HEAD");
                    heads.emplace_back(std::stoll(pair.substr(0, colon)),
                                       std::stoll(pair.substr(colon + 1)));
                }
                options.alignmentHeads = heads;
            } else {
                return usage();
            }
        }
        if (checkpoint.empty() || out.empty()) return usage();
        auto result = convert::convertCheckpoint(checkpoint, out, options);
        std::printf("%s\n%s\n%s\n", result.models.melSpectrogram.c_str(),
                    result.models.audioEncoder.c_str(), result.models.textDecoder.c_str());
        if (!result.tokenizerFolder.empty()) std::printf("%s\n", result.tokenizerFolder.c_str());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zv-convert: %s\n", error.what());
        return 1;
    }
    return 0;
}
