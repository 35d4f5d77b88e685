#include "halvex_zovuruv/DictationTranscriber.h"

#include "halvex_zovuruv/CommandLine.h"
#include "halvex_zovuruv/core/ErrorText.h"
#include "murmex/base/WhisperError.h"

namespace halvex {

namespace {
template <typename Call> auto describingEngineErrors(Call&& call) {
    try {
        return call();
    } catch (const murmex::WhisperError& e) {
        throw DescribedError(errorText(std::current_exception()), e.message());
    }
}
} // namespace

DictationTranscriber::DictationTranscriber(std::shared_ptr<Transcriber> transcriber)
    : transcriber_(std::move(transcriber)) {}

std::string DictationTranscriber::transcribe(const std::vector<float>& samples) {
    return describingEngineErrors([&] { return transcriber_->transcribe(samples); });
}

void DictationTranscriber::loadModel() {
    describingEngineErrors([&] { transcriber_->loadedMurmex(); });
}

} // namespace halvex
