#pragma once
// The desktop's clipboard through Qt: the X11 CLIPBOARD selection (or the
// Wayland clipboard), owned by this process until another one takes it.

#include "halvex_zovuruv/core/Clipboard.h"

namespace halvex {

class DesktopClipboard final : public Clipboard {
public:
    void setText(const std::string& text) override;
    /// The clipboard's text now (tests and diagnostics).
    std::string text() const;
};

} // namespace halvex
