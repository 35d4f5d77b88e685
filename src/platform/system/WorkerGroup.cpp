#include "platform/system/WorkerGroup.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>

namespace platform::system {

WorkerGroup::WorkerGroup(size_t width, std::stop_token parent)
    : width_(std::max<size_t>(width, 1)) {
    if (parent.stop_possible()) {
        parentLink_.emplace(std::move(parent),
                            std::function<void()>([this] { source_.request_stop(); }));
    }
}

WorkerGroup::~WorkerGroup() = default;

void WorkerGroup::forEachIndex(size_t count, const std::function<void(size_t)>& body) {
    if (count == 0) return;
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t index = next.fetch_add(1); index < count; index = next.fetch_add(1))
            body(index);
    };
    size_t helpers = std::min(width_, count) - 1;
    std::vector<std::jthread> threads;
    threads.reserve(helpers);
    for (size_t i = 0; i < helpers; ++i) {
        if (next.load() >= count) break; // the helpers already started took every job
        try {
            threads.emplace_back(work);
        } catch (const std::system_error&) {
            break; // no more threads to be had: the workers already running take the rest
        }
    }
    work();
    // The jthreads join here, before `next` and `body` go out of scope.
}

} // namespace platform::system
