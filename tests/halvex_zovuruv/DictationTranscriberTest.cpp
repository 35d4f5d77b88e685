#include "halvex_zovuruv/DictationTranscriber.h"

#include "halvex_zovuruv/core/ErrorText.h"
#include "murmex/base/WhisperError.h"

#include <gtest/gtest.h>

namespace {

TEST(DictationTranscriber, EngineErrorsReachTheControllerWithTheirCaseAndMessage) {
    auto transcriber =
        std::make_shared<halvex::Transcriber>([]() -> std::shared_ptr<murmex::Murmex> {
            throw murmex::WhisperError::modelsUnavailable("Models are missing");
        });
    halvex::DictationTranscriber adapter(transcriber);
    for (int call = 0; call < 2; ++call) {
        try {
            if (call == 0) {
                adapter.loadModel();
            } else {
                adapter.transcribe(std::vector<float>(160, 0.0f));
            }
            ADD_FAILURE() << "no error";
        } catch (const halvex::DescribedError& e) {
            EXPECT_EQ(e.debugDescription(), "modelsUnavailable(\"Models are missing\")");
            EXPECT_STREQ(e.what(), "Models are missing");
        }
    }
}

} // namespace
