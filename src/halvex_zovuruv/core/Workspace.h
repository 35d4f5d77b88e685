#pragma once
// The desktop's windows as the inserter needs them: which one has the focus,
// and bringing one back to the front. Main thread only.

#include "halvex_zovuruv/core/RunningApplication.h"

#include <optional>

namespace halvex {

class Workspace {
public:
    virtual ~Workspace() = default;

    /// The application that has the focus now, if any.
    virtual std::optional<RunningApplication> frontmostApplication() = 0;

    /// Brings `application` to the front and gives it the focus; does nothing
    /// when it is gone.
    virtual void activate(const RunningApplication& application) = 0;
};

} // namespace halvex
