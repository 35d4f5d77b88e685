#pragma once
// Errors of loading a model folder or running a prediction.

#include <stdexcept>
#include <string>

namespace platform::ml {

class ModelError : public std::runtime_error {
public:
    enum class Kind {
        notFound,      // the folder or one of its files does not exist
        invalidFormat, // not a model folder of this runtime, or a damaged one
        invalidInput,  // a prediction input is missing or has the wrong shape or type
        unsupported,   // a model kind or setting this runtime cannot run
    };
    ModelError(Kind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

} // namespace platform::ml
