#pragma once
// Writes a result as its pretty-printed JSON document ("<name>.json").

#include <string>

#include "murmex/utilities/ResultWriting.h"

namespace murmex {

class WriteJSON : public ResultWriting {
public:
    /// Stores the folder; nothing is created or checked until a write.
    explicit WriteJSON(std::string outputDir) : outputDir_(std::move(outputDir)) {}

    const std::string& outputDir() const override { return outputDir_; }
    platform::system::Outcome<std::string> write(const TranscriptionResult& result, const std::string& name,
                                                 const Options& options = {}) override;

private:
    std::string outputDir_;
};

}  // namespace murmex
