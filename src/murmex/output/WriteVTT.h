#pragma once
// Writes a result as WebVTT subtitles ("<name>.vtt"): a "WEBVTT" header,
// unnumbered cues, hours only when needed, "." before the milliseconds.

#include "murmex/output/ResultWriting.h"

namespace murmex {

class WriteVTT : public FileResultWriter {
public:
    using FileResultWriter::FileResultWriter;
    platform::system::Outcome<std::string> write(const TranscriptionResult& result,
                                                 const std::string& name,
                                                 const Options& options = {}) override;
};

} // namespace murmex
