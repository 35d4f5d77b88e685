#include "platform/system/Cancellation.h"

#include <utility>

namespace platform::system {

namespace {
thread_local std::stop_token tCurrentToken;
}

CancellationScope::CancellationScope(std::stop_token token)
    : previous_(std::exchange(tCurrentToken, std::move(token))) {}

CancellationScope::~CancellationScope() {
    tCurrentToken = std::move(previous_);
}

std::stop_token currentStopToken() {
    return tCurrentToken;
}

bool isCancelled() {
    return tCurrentToken.stop_requested();
}

void checkCancellation() {
    if (tCurrentToken.stop_requested()) throw CancellationError();
}

} // namespace platform::system
