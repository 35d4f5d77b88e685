#pragma once
// A value kept behind its own lock, shared between concurrent tasks. Every
// read copies the value out under the lock; every write assigns under it.
// An in-place change (`modify`) holds the lock for the whole change, so two
// threads changing the same value at once never lose either change.
//
// The wrapper is a plain value: copying it copies the value and gives the
// copy a fresh lock of its own.

#include "tessary_core/UnfairLock.h"

#include <type_traits>
#include <utility>

namespace tessary {

template <typename T> class PropertyLock {
public:
    PropertyLock() = default;
    PropertyLock(T value) : value_(std::move(value)) {} // NOLINT: reads like the wrapped value
    PropertyLock(const PropertyLock& other) : value_(other.get()) {}
    PropertyLock(PropertyLock&& other) : value_(other.take()) {}
    PropertyLock& operator=(const PropertyLock& other) {
        if (this != &other) set(other.get());
        return *this;
    }
    PropertyLock& operator=(PropertyLock&& other) {
        if (this != &other) set(other.take());
        return *this;
    }
    PropertyLock& operator=(T value) {
        set(std::move(value));
        return *this;
    }

    /// A copy of the value.
    T get() const {
        return lock_.withLock([&]() -> T { return value_; });
    }
    operator T() const { return get(); } // NOLINT

    /// Replaces the value. The old value is destroyed after the lock is released.
    void set(T value) {
        lock_.withLock([&] { std::swap(value_, value); });
    }

    /// Applies `fn(T&)` to the value with the lock held throughout and returns
    /// what `fn` returns. Changes made before `fn` throws are kept. `fn` must
    /// not touch this wrapper again (the lock is not recursive).
    template <typename Fn> decltype(auto) modify(Fn&& fn) {
        return lock_.withLock([&]() -> decltype(auto) { return std::forward<Fn>(fn)(value_); });
    }

    /// Runs `fn(const T&)` on the value under the lock without copying it.
    template <typename Fn> decltype(auto) read(Fn&& fn) const {
        return lock_.withLock(
            [&]() -> decltype(auto) { return std::forward<Fn>(fn)(std::as_const(value_)); });
    }

private:
    T take() {
        return lock_.withLock([&]() -> T { return std::move(value_); });
    }

    mutable UnfairLock lock_;
    T value_{};
};

} // namespace tessary
