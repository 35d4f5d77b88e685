#pragma once
// A small non-recursive mutual-exclusion lock for very short sections (a
// copy, an assignment). Taking and releasing it allocates nothing.

#include <mutex>
#include <utility>

namespace tessary {

class UnfairLock {
public:
    UnfairLock() = default;
    UnfairLock(const UnfairLock&) = delete;
    UnfairLock& operator=(const UnfairLock&) = delete;

    /// Runs `fn` with the lock held and returns its result. When `fn` throws,
    /// the lock is released and the exception passes on unchanged. `fn` must
    /// not take the same lock again.
    template <typename Fn> decltype(auto) withLock(Fn&& fn) {
        std::lock_guard guard(mutex_);
        return std::forward<Fn>(fn)();
    }

    // BasicLockable, for std::lock_guard and friends.
    void lock() { mutex_.lock(); }
    void unlock() { mutex_.unlock(); }
    bool try_lock() { return mutex_.try_lock(); }

private:
    std::mutex mutex_;
};

} // namespace tessary
