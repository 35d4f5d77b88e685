#include "platform/ml/Runtime.h"

#include "platform/ml/kernels/ThreadPool.h"

#include <algorithm>
#include <mutex>

namespace platform::ml {

namespace {
std::mutex settingMutex;
}

void Runtime::setThreadCount(int count) {
    std::lock_guard lock(settingMutex);
    count = std::clamp(count, 1, 256);
    kernels::ThreadPool::shared().setThreadCount(count);
}

int Runtime::threadCount() {
    return kernels::ThreadPool::shared().threadCount();
}

Runtime::ThreadShare::ThreadShare(int threads)
    : previous_(kernels::ThreadPool::setCallerShare(threads)) {}

Runtime::ThreadShare::~ThreadShare() {
    kernels::ThreadPool::setCallerShare(previous_);
}

} // namespace platform::ml
