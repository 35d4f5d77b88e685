#include "tessary_core/ModelState.h"

#include <gtest/gtest.h>

using tessary::ModelState;

TEST(ModelState, DescriptionsAndBusyFlags) {
    struct Case {
        ModelState state;
        const char* text;
        bool busy;
    };
    const Case cases[] = {
        {ModelState::unloading, "Unloading", true},
        {ModelState::unloaded, "Unloaded", false},
        {ModelState::loading, "Loading", true},
        {ModelState::loaded, "Loaded", false},
        {ModelState::prewarming, "Specializing", true},
        {ModelState::prewarmed, "Specialized", false},
        {ModelState::downloading, "Downloading", true},
        {ModelState::downloaded, "Downloaded", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(tessary::description(c.state), c.text);
        EXPECT_EQ(tessary::isBusy(c.state), c.busy) << c.text;
        EXPECT_EQ(fmt::format("{}", c.state), c.text);
    }
}
