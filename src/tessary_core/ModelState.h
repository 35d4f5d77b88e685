#pragma once
// Life-cycle state of a set of models.

#include <fmt/format.h>
#include <ostream>
#include <string_view>

namespace tessary {

enum class ModelState {
    unloading,
    unloaded,
    loading,
    loaded,
    prewarming,
    prewarmed,
    downloading,
    downloaded
};

/// "Unloading", "Unloaded", "Loading", "Loaded", "Specializing",
/// "Specialized", "Downloading", "Downloaded".
std::string_view description(ModelState state);

/// True while a transition is under way (unloading, loading, prewarming, downloading).
bool isBusy(ModelState state);

inline std::ostream& operator<<(std::ostream& out, ModelState state) {
    return out << description(state);
}

} // namespace tessary

template <> struct fmt::formatter<tessary::ModelState> : fmt::formatter<std::string_view> {
    template <typename FormatContext>
    auto format(tessary::ModelState state, FormatContext& context) const {
        return fmt::formatter<std::string_view>::format(tessary::description(state), context);
    }
};
