#pragma once
// The desktop's windows on X11: the active top-level window stands for the
// front application (its WM_CLASS as the name), and bringing it back asks
// the window manager to activate it.

#include "halvex_zovuruv/core/Workspace.h"

#include <memory>

namespace platform::ui {
class X11Windows;
}

namespace halvex {

class X11Workspace final : public Workspace {
public:
    explicit X11Workspace(std::unique_ptr<platform::ui::X11Windows> windows);
    ~X11Workspace() override;

    std::optional<RunningApplication> frontmostApplication() override;
    void activate(const RunningApplication& application) override;

private:
    std::unique_ptr<platform::ui::X11Windows> windows_;
};

/// Where no window can be asked for (no X server): no front application, and
/// the paste goes to whatever has the focus.
class NoWorkspace final : public Workspace {
public:
    std::optional<RunningApplication> frontmostApplication() override { return std::nullopt; }
    void activate(const RunningApplication&) override {}
};

} // namespace halvex
