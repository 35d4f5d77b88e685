#pragma once
// Writes a result as WebVTT subtitles ("<name>.vtt"): a "WEBVTT" header, unnumbered cues, hours only when needed, "." before the milliseconds.

#include <string>

#include "murmex/utilities/ResultWriting.h"

namespace murmex {

class WriteVTT : public ResultWriting {
public:
    /// Stores the folder; nothing is created or checked until a write.
    explicit WriteVTT(std::string outputDir) : outputDir_(std::move(outputDir)) {}

    const std::string& outputDir() const override { return outputDir_; }
    platform::system::Outcome<std::string> write(const TranscriptionResult& result, const std::string& name,
                                                 const Options& options = {}) override;

private:
    std::string outputDir_;
};

}  // namespace murmex
