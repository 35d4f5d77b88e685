#pragma once
// Writes a result as SubRip subtitles ("<name>.srt"): numbered cues, hours always shown, "," before the milliseconds.

#include <string>

#include "murmex/utilities/ResultWriting.h"

namespace murmex {

class WriteSRT : public ResultWriting {
public:
    /// Stores the folder; nothing is created or checked until a write.
    explicit WriteSRT(std::string outputDir) : outputDir_(std::move(outputDir)) {}

    const std::string& outputDir() const override { return outputDir_; }
    platform::system::Outcome<std::string> write(const TranscriptionResult& result, const std::string& name,
                                                 const Options& options = {}) override;

private:
    std::string outputDir_;
};

}  // namespace murmex
