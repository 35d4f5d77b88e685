#include "murmex/output/WriteSRT.h"

namespace murmex {

platform::system::Outcome<std::string> WriteSRT::write(const TranscriptionResult& result,
                                                       const std::string& name, const Options&) {
    int index = 1;
    std::string text =
        subtitleCues(result, [&](float start, float end, const std::string& cueText) {
            return formatSegment(index++, start, end, cueText);
        });
    return writeFile(name, "srt", text);
}

} // namespace murmex
