#pragma once
// Alerts as modal message boxes: the headline as the text, the detail as the
// informative text, one "OK" button.

#include "halvex_zovuruv/core/AlertPresenting.h"

namespace halvex {

class MessageBoxAlerts final : public AlertPresenting {
public:
    void show(const Alert& alert) override;
};

} // namespace halvex
