#pragma once
// Writes a result as SubRip subtitles ("<name>.srt"): numbered cues, hours
// always shown, "," before the milliseconds.

#include "murmex/output/ResultWriting.h"

namespace murmex {

class WriteSRT : public FileResultWriter {
public:
    using FileResultWriter::FileResultWriter;
    platform::system::Outcome<std::string> write(const TranscriptionResult& result,
                                                 const std::string& name,
                                                 const Options& options = {}) override;
};

} // namespace murmex
