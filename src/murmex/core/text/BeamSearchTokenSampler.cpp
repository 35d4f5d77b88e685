#include "murmex/core/text/BeamSearchTokenSampler.h"

#include "platform/system/NumberText.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace murmex {
namespace {

[[noreturn]] void fatal(const std::string& message) {
    std::fprintf(stderr, "Fatal error: %s\n", message.c_str());
    std::fflush(stderr);
    std::abort();
}

} // namespace

BeamSearchTokenSampler::BeamSearchTokenSampler(int beamSize, int eotToken, float patience)
    : beamSize(beamSize), eotToken(eotToken), patience(patience),
      maxCandidates(static_cast<int>(patience * static_cast<float>(beamSize))) {
    if (maxCandidates <= 0) {
        fatal("Invalid beam size " + std::to_string(beamSize) + " or patience " +
              platform::system::shortestText(patience));
    }
}

void BeamSearchTokenSampler::reset() {
    finishedSequences.clear();
}

SamplingResult BeamSearchTokenSampler::update(const std::vector<int>&,
                                              const platform::ml::MultiArray&,
                                              const std::vector<float>&) {
    fatal("Not implemented: update(tokens:logits:logProbs:)");
}

SamplingResult BeamSearchTokenSampler::finalize(const std::vector<int>&,
                                                const std::vector<float>&) {
    fatal("Not implemented: finalize(tokens:logProbs:)");
}

} // namespace murmex
