#pragma once
// The desktop's clipboard. Main thread only.

#include <string>

namespace halvex {

class Clipboard {
public:
    virtual ~Clipboard() = default;

    /// Replaces the clipboard's whole content with `text` as plain text.
    virtual void setText(const std::string& text) = 0;
};

} // namespace halvex
