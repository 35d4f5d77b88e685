#pragma once
// A tokenizer document that cannot be built into a tokenizer: a missing
// required setting, a stage type no factory knows, an expression that does
// not compile. It stops the construction of the tokenizer; what() is the
// fixed text that names the problem.

#include <stdexcept>

namespace tokenizers {

class ConfigurationError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace tokenizers
