#pragma once
// Errors of loading, running or writing a model folder.

#include <stdexcept>
#include <string>

namespace platform::ml {

class ModelError : public std::runtime_error {
public:
    enum class Kind {
        notFound,      // the folder or one of its files does not exist
        invalidFormat, // not a model folder of this runtime, or a damaged one
        invalidInput,  // a prediction input is missing or has the wrong shape or type
        unsupported,   // a model kind or setting this runtime cannot run or store
        writeFailed,   // a model folder or one of its files could not be written
    };
    ModelError(Kind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

} // namespace platform::ml
