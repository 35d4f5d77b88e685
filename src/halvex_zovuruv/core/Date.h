#pragma once
// An instant as the record store keeps it: seconds, with fraction, since
// 2001-01-01 00:00:00 UTC (the reference date of the store's file form).

#include <chrono>
#include <compare>
#include <cstdint>

namespace halvex {

struct Date {
    /// 2001-01-01 00:00:00 UTC in seconds since 1970-01-01 00:00:00 UTC.
    static constexpr int64_t kReferenceDateUnixSeconds = 978307200;

    double timeIntervalSinceReferenceDate = 0;

    static Date fromSystemTime(std::chrono::system_clock::time_point instant) {
        // Subtract in whole nanoseconds first, so the double loses nothing a
        // date since 1970 would keep.
        const auto since1970 =
            std::chrono::duration_cast<std::chrono::nanoseconds>(instant.time_since_epoch())
                .count();
        const int64_t since2001 = since1970 - kReferenceDateUnixSeconds * 1'000'000'000;
        return Date{static_cast<double>(since2001) / 1e9};
    }

    static Date fromUnixMilliseconds(int64_t milliseconds) {
        return Date{static_cast<double>(milliseconds - kReferenceDateUnixSeconds * 1000) / 1e3};
    }

    /// Seconds since 1970-01-01 00:00:00 UTC.
    double unixSeconds() const {
        return timeIntervalSinceReferenceDate + static_cast<double>(kReferenceDateUnixSeconds);
    }

    friend auto operator<=>(const Date&, const Date&) = default;
};

} // namespace halvex
