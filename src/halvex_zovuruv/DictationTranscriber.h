#pragma once
// The speech engine as the dictation controller uses it, over the
// application's one Transcriber. Engine errors are handed on as described
// errors, so the controller logs their case and shows their message.

#include "halvex_zovuruv/Transcriber.h"
#include "halvex_zovuruv/core/SpeechTranscribing.h"

#include <memory>
#include <string>
#include <vector>

namespace halvex {

class DictationTranscriber final : public SpeechTranscribing {
public:
    explicit DictationTranscriber(std::shared_ptr<Transcriber> transcriber);

    std::string transcribe(const std::vector<float>& samples) override;
    void loadModel() override;

private:
    std::shared_ptr<Transcriber> transcriber_;
};

} // namespace halvex
