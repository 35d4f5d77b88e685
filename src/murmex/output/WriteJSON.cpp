#include "murmex/output/WriteJSON.h"

namespace murmex {

platform::system::Outcome<std::string> WriteJSON::write(const TranscriptionResult& result,
                                                        const std::string& name, const Options&) {
    std::string document;
    try {
        document = result.toJson(true);
    } catch (...) {
        return std::current_exception();
    }
    return writeFile(name, "json", document);
}

} // namespace murmex
