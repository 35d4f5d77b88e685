#include "murmex/core/text/BeamSearchTokenSampler.h"

#include <gtest/gtest.h>

using murmex::BeamSearchTokenSampler;

TEST(BeamSearchTokenSampler, MaxCandidatesIsPatienceTimesBeamSizeCutTowardZero) {
    BeamSearchTokenSampler five(5, 9, 1.0f);
    EXPECT_EQ(five.maxCandidates, 5);
    BeamSearchTokenSampler one(3, 9, 0.5f);
    EXPECT_EQ(one.maxCandidates, 1);
    one.finishedSequences = {1.0f};
    one.reset();
    EXPECT_TRUE(one.finishedSequences.empty());
}

TEST(BeamSearchTokenSamplerDeathTest, NoCandidateOrAnySearchStopsTheProcess) {
    EXPECT_DEATH(BeamSearchTokenSampler(1, 9, 0.5f), "Invalid beam size 1 or patience 0.5");
    EXPECT_DEATH(BeamSearchTokenSampler(0, 9, 1.0f), "Invalid beam size 0 or patience 1.0");
    BeamSearchTokenSampler sampler(2, 9, 1.0f);
    EXPECT_DEATH(sampler.finalize({}, {}), "Not implemented: finalize\\(tokens:logProbs:\\)");
}
