#include "murmex/output/WriteVTT.h"

namespace murmex {

platform::system::Outcome<std::string> WriteVTT::write(const TranscriptionResult& result,
                                                       const std::string& name, const Options&) {
    std::string text = "WEBVTT\n\n";
    text += subtitleCues(result, [&](float start, float end, const std::string& cueText) {
        return formatTiming(start, end, cueText);
    });
    return writeFile(name, "vtt", text);
}

} // namespace murmex
