#pragma once
// A value or the error that prevented it: the result of work that may fail,
// kept so that it can be handed across threads and rethrown later.

#include <exception>
#include <stdexcept>
#include <string>
#include <utility>
#include <variant>

namespace platform::system {

template <typename T> class Outcome {
public:
    Outcome(T value) : state_(std::in_place_index<0>, std::move(value)) {} // NOLINT
    Outcome(std::exception_ptr error)
        : state_(std::in_place_index<1>, std::move(error)) {} // NOLINT

    /// Runs `fn` and captures its result or whatever it throws.
    template <typename Fn> static Outcome capture(Fn&& fn) {
        try {
            return Outcome(std::forward<Fn>(fn)());
        } catch (...) {
            return Outcome(std::current_exception());
        }
    }

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    /// The value, or rethrows the stored error.
    T& get() & {
        if (!ok()) std::rethrow_exception(std::get<1>(state_));
        return std::get<0>(state_);
    }
    const T& get() const& {
        if (!ok()) std::rethrow_exception(std::get<1>(state_));
        return std::get<0>(state_);
    }
    T&& get() && {
        if (!ok()) std::rethrow_exception(std::get<1>(state_));
        return std::get<0>(std::move(state_));
    }
    std::exception_ptr error() const { return ok() ? nullptr : std::get<1>(state_); }

private:
    std::variant<T, std::exception_ptr> state_;
};

/// The description of a stored error: what() of a standard exception, "unknown
/// error" for anything else, "" for no error.
inline std::string describeError(const std::exception_ptr& error) {
    if (!error) return {};
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unknown error";
    }
}

} // namespace platform::system
