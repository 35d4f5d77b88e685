#pragma once
// The application's settings in the user defaults.

#include "halvex_zovuruv/core/HotkeyChoice.h"
#include "halvex_zovuruv/core/UserDefaults.h"

#include <memory>

namespace halvex {

class Settings {
public:
    /// The keys of the user defaults.
    static constexpr const char* kHotkeyKey = "hotkey";
    static constexpr const char* kClaudeAPIKeyKey = "claudeAPIKey";
    static constexpr const char* kClaudeModelKey = "claudeModel";

    explicit Settings(std::shared_ptr<UserDefaults> defaults);

    /// The stored hotkey; the right Command key when nothing is stored or the
    /// stored text names no choice.
    HotkeyChoice hotkey() const;
    void setHotkey(HotkeyChoice choice);

    const std::shared_ptr<UserDefaults>& defaults() const { return defaults_; }

private:
    std::shared_ptr<UserDefaults> defaults_;
};

} // namespace halvex
