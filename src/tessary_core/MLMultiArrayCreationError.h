#pragma once
// The failure of making a half-precision multi-array for a shape that gives
// it no rows to live in.

#include <stdexcept>

namespace tessary {

class MLMultiArrayCreationError : public std::runtime_error {
public:
    enum class Kind { pixelBufferFailed };

    explicit MLMultiArrayCreationError(Kind kind = Kind::pixelBufferFailed)
        : std::runtime_error("Failed to create IOSurface-backed pixel buffer for MLMultiArray"),
          kind_(kind) {}
    Kind kind() const { return kind_; }
    friend bool operator==(const MLMultiArrayCreationError& a, const MLMultiArrayCreationError& b) {
        return a.kind_ == b.kind_;
    }

private:
    Kind kind_;
};

} // namespace tessary
