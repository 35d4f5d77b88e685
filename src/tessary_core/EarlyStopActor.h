#pragma once
// Stop flags keyed by the identifier of a decoding window. A decoder checks
// its window's flag between tokens; a progress callback that asks to stop
// sets it from another thread. Operations run one at a time.

#include "platform/system/Uuid.h"

#include <mutex>
#include <optional>
#include <unordered_map>

namespace tessary {

class EarlyStopActor {
public:
    EarlyStopActor() = default;
    EarlyStopActor(const EarlyStopActor&) = delete;
    EarlyStopActor& operator=(const EarlyStopActor&) = delete;

    /// Stores the flag for `id`, replacing any earlier one.
    void set(bool value, const platform::system::Uuid& id);
    /// The stored flag, or false when none is stored.
    bool get(const platform::system::Uuid& id) const;
    /// Removes the entry and returns the flag it held, or nothing.
    std::optional<bool> remove(const platform::system::Uuid& id);

private:
    mutable std::mutex mutex_;
    std::unordered_map<platform::system::Uuid, bool> shouldStop_;
};

} // namespace tessary
