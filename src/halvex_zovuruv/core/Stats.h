#pragma once
// The record store: every inserted dictation, appended to one JSON file
// (stats.json in the application's data folder), and the figures the
// statistics show. Every operation reads the whole file anew; an append
// rewrites it atomically, so a crash never leaves a truncated file. Runs on
// the main thread only; there is no lock.

#include "halvex_zovuruv/core/Clock.h"
#include "halvex_zovuruv/core/Date.h"
#include "halvex_zovuruv/core/DictationRecord.h"
#include "halvex_zovuruv/core/RecordStoring.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace halvex {

/// Sums over the counted records.
struct StatsSummary {
    int64_t count = 0;
    int64_t characters = 0;
    int64_t words = 0;
    double seconds = 0; ///< speech time
    double transcriptionSeconds = 0;
    int64_t aiCount = 0; ///< records whose text came out of the AI step

    friend bool operator==(const StatsSummary&, const StatsSummary&) = default;
};

/// One day of the statistics chart.
struct DailyBucket {
    std::string label; ///< the abbreviated Russian weekday name, e.g. "пн"
    int64_t characters = 0;
    double speechSeconds = 0;

    friend bool operator==(const DailyBucket&, const DailyBucket&) = default;
};

class Stats final : public RecordStoring {
public:
    /// A store in `file`; "now" comes from `clock`.
    explicit Stats(std::filesystem::path file = fileURL(),
                   std::shared_ptr<Clock> clock = Clock::system());

    /// $XDG_DATA_HOME/Halvex Zovuruv/stats.json; the folder is created on the
    /// first call.
    static const std::filesystem::path& fileURL();

    const std::filesystem::path& file() const { return file_; }

    /// Every record in file order; none when the file is missing or cannot be
    /// read or decoded (nothing is reported).
    std::vector<DictationRecord> loadAll() override;

    /// Appends one record dated now and rewrites the file. A file that exists
    /// but cannot be read or decoded is first set aside as
    /// "stats.json.corrupt-<UTC time>" (and logged), so its history is kept;
    /// if it cannot be set aside nothing is written. Logs "stats: recorded ...".
    void record(const std::string& text, double seconds, double transcriptionSeconds,
                bool aiProcessed) override;

    /// Sums over the records made at or after `since`, or over all of them.
    /// Integer sums saturate instead of overflowing.
    StatsSummary summary(std::optional<Date> since = std::nullopt);

    /// `days` buckets, oldest first, today (local time) last: each sums the
    /// records made from the start of its day up to, not including, the start
    /// of the next; days are calendar days, so a daylight-saving change makes
    /// one 23 or 25 hours long. A negative count gives none.
    std::vector<DailyBucket> dailyBuckets(int days);

private:
    enum class FileState { missing, readable, broken };
    struct Contents {
        std::vector<DictationRecord> records;
        FileState state = FileState::missing;
    };

    Contents read() const;
    bool setAside();

    std::filesystem::path file_;
    std::shared_ptr<Clock> clock_;
};

} // namespace halvex
