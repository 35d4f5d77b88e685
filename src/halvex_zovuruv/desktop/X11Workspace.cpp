#include "halvex_zovuruv/desktop/X11Workspace.h"

#include "platform/ui/X11Windows.h"

namespace halvex {

X11Workspace::X11Workspace(std::unique_ptr<platform::ui::X11Windows> windows)
    : windows_(std::move(windows)) {}

X11Workspace::~X11Workspace() = default;

std::optional<RunningApplication> X11Workspace::frontmostApplication() {
    auto window = windows_->activeWindow();
    if (!window) return std::nullopt;
    return RunningApplication{*window, windows_->applicationName(*window)};
}

void X11Workspace::activate(const RunningApplication& application) {
    windows_->activate(application.id);
}

} // namespace halvex
