#pragma once
// Writes a result as its pretty-printed JSON document ("<name>.json").

#include "murmex/output/ResultWriting.h"

namespace murmex {

class WriteJSON : public FileResultWriter {
public:
    using FileResultWriter::FileResultWriter;
    platform::system::Outcome<std::string> write(const TranscriptionResult& result,
                                                 const std::string& name,
                                                 const Options& options = {}) override;
};

} // namespace murmex
