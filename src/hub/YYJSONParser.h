#pragma once
// Reads the bytes of one JSON document into a Config. Strict JSON, except
// that NaN and Infinity literals (and numbers too large for a double, which
// read as infinity) are accepted. Documents nested deeper than
// `YYJSONParser::maxDepth` levels are refused with a parse error instead of
// being walked.

#include "hub/Config.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace hub {

class YYJSONParser {
public:
    class ParseError : public std::runtime_error {
    public:
        enum class Kind { readFailed, nullDocument };

        static ParseError readFailed(std::uint32_t code, std::string message,
                                     std::int64_t position);
        static ParseError nullDocument();

        Kind kind() const { return kind_; }
        std::uint32_t code() const { return code_; }
        const std::string& message() const { return message_; }
        std::int64_t position() const { return position_; }
        /// Same as what().
        std::string errorDescription() const { return what(); }

    private:
        ParseError(Kind kind, std::uint32_t code, std::string message, std::int64_t position,
                   const std::string& text)
            : std::runtime_error(text), kind_(kind), code_(code), message_(std::move(message)),
              position_(position) {}

        Kind kind_;
        std::uint32_t code_;
        std::string message_;
        std::int64_t position_;
    };

    /// Nesting levels (arrays and objects) a document may have.
    static constexpr int maxDepth = 512;

    struct Options {
        /// Accept NaN and Infinity literals (and read overflowing numbers as infinity).
        bool allowInfAndNaN = true;
        /// Read a two-element array of a non-negative integer and a text as a token.
        bool pairsAsTokens = false;
    };

    /// Parses one document; throws ParseError.
    static Config parseToConfig(std::string_view bytes) { return parseToConfig(bytes, Options{}); }
    static Config parseToConfig(std::string_view bytes, const Options& options);
};

} // namespace hub
