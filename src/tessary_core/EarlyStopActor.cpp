#include "tessary_core/EarlyStopActor.h"

namespace tessary {

void EarlyStopActor::set(bool value, const platform::system::Uuid& id) {
    std::lock_guard lock(mutex_);
    shouldStop_[id] = value;
}

bool EarlyStopActor::get(const platform::system::Uuid& id) const {
    std::lock_guard lock(mutex_);
    auto it = shouldStop_.find(id);
    return it != shouldStop_.end() && it->second;
}

std::optional<bool> EarlyStopActor::remove(const platform::system::Uuid& id) {
    std::lock_guard lock(mutex_);
    auto it = shouldStop_.find(id);
    if (it == shouldStop_.end()) return std::nullopt;
    bool value = it->second;
    shouldStop_.erase(it);
    return value;
}

} // namespace tessary
