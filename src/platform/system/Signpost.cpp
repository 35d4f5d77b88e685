#include "platform/system/Signpost.h"

#include "platform/system/LogSink.h"

#include <atomic>
#include <fmt/format.h>

namespace platform::system {

namespace {
std::atomic<uint64_t> gNextIntervalId{1};
}

Signposter::Signposter(std::string category, Enabled enabled, Emit emit)
    : category_(std::move(category)), enabled_(std::move(enabled)), emit_(std::move(emit)) {}

bool Signposter::isEnabled() const {
    return !enabled_ || enabled_();
}

SignpostInterval Signposter::beginInterval(std::string_view) const {
    return SignpostInterval(gNextIntervalId.fetch_add(1, std::memory_order_relaxed),
                            std::chrono::steady_clock::now());
}

std::string Signposter::intervalLine(std::string_view name, uint64_t id,
                                     std::chrono::nanoseconds duration) {
    return fmt::format("{} [{}]: {:.3f} ms", name, id,
                       std::chrono::duration<double, std::milli>(duration).count());
}

void Signposter::endInterval(std::string_view name, SignpostInterval& interval) const {
    if (!isEnabled()) return;
    try {
        std::string line;
        if (interval.open_) {
            interval.open_ = false;
            line = intervalLine(name, interval.id_,
                                std::chrono::steady_clock::now() - interval.start_);
        } else {
            line = fmt::format("{} [{}]: [Error] Interval already ended", name, interval.id_);
        }
        if (emit_) {
            emit_(line);
        } else {
            LogSink::write(LogType::debug, category_, line);
        }
    } catch (...) {
        // A signpost never fails the work it measures.
    }
}

} // namespace platform::system
