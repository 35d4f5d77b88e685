#pragma once
// Interval signposts: named begin/end marks around a piece of work. Ending an
// interval writes its name, identifier and duration as a debug line. A
// signposter belongs to one category and is switched on and off by a
// predicate, so an owner can tie it to its own log level.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace platform::system {

class SignpostInterval {
public:
    uint64_t id() const { return id_; }
    bool isOpen() const { return open_; }

private:
    friend class Signposter;
    SignpostInterval(uint64_t id, std::chrono::steady_clock::time_point start)
        : id_(id), start_(start) {}
    uint64_t id_;
    std::chrono::steady_clock::time_point start_;
    bool open_ = true;
};

class Signposter {
public:
    using Enabled = std::function<bool()>;
    using Emit = std::function<void(std::string_view line)>;

    /// Without `enabled` the signposter is always on; without `emit` lines go
    /// to the standard-error log sink at debug level under `category`.
    explicit Signposter(std::string category, Enabled enabled = {}, Emit emit = {});

    const std::string& category() const { return category_; }
    bool isEnabled() const;

    /// Opens an interval with a fresh identifier (always, enabled or not).
    SignpostInterval beginInterval(std::string_view name) const;

    /// When enabled, closes the interval and writes "<name> [<id>]: <ms> ms",
    /// or "<name> [<id>]: [Error] Interval already ended" for an interval
    /// that was closed before. Does nothing when disabled.
    void endInterval(std::string_view name, SignpostInterval& interval) const;

    /// The line `endInterval` writes, for a given duration.
    static std::string intervalLine(std::string_view name, uint64_t id,
                                    std::chrono::nanoseconds duration);

private:
    std::string category_;
    Enabled enabled_;
    Emit emit_;
};

/// Opens an interval now and closes it when the scope ends.
class ScopedSignpost {
public:
    ScopedSignpost(const Signposter& signposter, std::string name)
        : signposter_(signposter), name_(std::move(name)),
          interval_(signposter.beginInterval(name_)) {}
    ~ScopedSignpost() { signposter_.endInterval(name_, interval_); }
    ScopedSignpost(const ScopedSignpost&) = delete;
    ScopedSignpost& operator=(const ScopedSignpost&) = delete;

private:
    const Signposter& signposter_;
    std::string name_;
    SignpostInterval interval_;
};

} // namespace platform::system
