#include "halvex_zovuruv/core/Stats.h"

#include "halvex_zovuruv/core/ApplicationSupport.h"
#include "halvex_zovuruv/core/Log.h"
#include "halvex_zovuruv/core/RecordCoding.h"
#include "halvex_zovuruv/core/TextCounts.h"

#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QLocale>
#include <QSaveFile>
#include <cerrno>
#include <fcntl.h>
#include <fmt/format.h>
#include <limits>
#include <unistd.h>

namespace fs = std::filesystem;

namespace halvex {

namespace {

int64_t saturatingAdd(int64_t a, int64_t b) {
    int64_t sum;
    if (__builtin_add_overflow(a, b, &sum)) {
        return b > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
    }
    return sum;
}

/// The whole file, or nothing with errno set.
std::optional<std::string> readFile(const fs::path& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string bytes;
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            ::close(fd);
            errno = error;
            return std::nullopt;
        }
        bytes.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return bytes;
}

/// Writes the whole file through a temporary file that replaces it only once
/// it is complete and on disk.
bool writeFileAtomically(const fs::path& path, const std::string& bytes) {
    QSaveFile out(QFile::decodeName(path.c_str()));
    if (!out.open(QIODevice::WriteOnly)) return false;
    if (out.write(bytes.data(), static_cast<qint64>(bytes.size())) !=
        static_cast<qint64>(bytes.size())) {
        out.cancelWriting();
    }
    return out.commit();
}

/// "20250102T030405Z".
std::string compactUtcTime(std::chrono::system_clock::time_point instant) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(instant);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &utc);
    return text;
}

Date startOfDay(const QDate& day) {
    return Date::fromUnixMilliseconds(day.startOfDay(Qt::LocalTime).toMSecsSinceEpoch());
}

} // namespace

const fs::path& Stats::fileURL() {
    static const fs::path url = applicationSupportFolder("Halvex Zovuruv") / "stats.json";
    return url;
}

Stats::Stats(fs::path file, std::shared_ptr<Clock> clock)
    : file_(std::move(file)), clock_(std::move(clock)) {}

Stats::Contents Stats::read() const {
    auto bytes = readFile(file_);
    if (!bytes) {
        const bool missing = errno == ENOENT || errno == ENOTDIR;
        return {{}, missing ? FileState::missing : FileState::broken};
    }
    auto records = decodeRecords(*bytes);
    if (!records) return {{}, FileState::broken};
    return {std::move(*records), FileState::readable};
}

std::vector<DictationRecord> Stats::loadAll() {
    return read().records;
}

bool Stats::setAside() {
    const std::string base =
        file_.filename().string() + ".corrupt-" + compactUtcTime(clock_->now());
    fs::path target = file_.parent_path() / base;
    std::error_code error;
    for (int n = 2; fs::exists(target, error) || error; ++n) {
        if (error) return false;
        target = file_.parent_path() / (base + "-" + std::to_string(n));
    }
    fs::rename(file_, target, error);
    if (error) {
        Log::write("stats: unreadable " + file_.filename().string() +
                   " could not be set aside: " + error.message() + "; record NOT written");
        return false;
    }
    Log::write("stats: unreadable " + file_.filename().string() + " set aside as " +
               target.filename().string());
    return true;
}

void Stats::record(const std::string& text, double seconds, double transcriptionSeconds,
                   bool aiProcessed) {
    DictationRecord record;
    record.text = repairedUtf8(text);
    record.words = wordCount(record.text);
    record.characters = characterCount(record.text);
    record.seconds = seconds;
    record.transcriptionSeconds = transcriptionSeconds;
    record.aiProcessed = aiProcessed;

    Contents contents = read();
    if (contents.state != FileState::broken || setAside()) {
        record.date = Date::fromSystemTime(clock_->now());
        contents.records.push_back(record);
        auto json = encodeRecords(contents.records);
        if (json && !writeFileAtomically(file_, *json)) {
            Log::write("stats: writing " + file_.string() + " FAILED");
        }
    }
    Log::write(fmt::format("stats: recorded {} chars, {:.1f}s, ai={}", record.characters, seconds,
                           aiProcessed ? "true" : "false"));
}

StatsSummary Stats::summary(std::optional<Date> since) {
    StatsSummary sum;
    for (const auto& r : loadAll()) {
        if (since && r.date < *since) continue;
        sum.count = saturatingAdd(sum.count, 1);
        sum.characters = saturatingAdd(sum.characters, r.characters);
        sum.words = saturatingAdd(sum.words, r.words);
        sum.seconds += r.seconds;
        sum.transcriptionSeconds += r.transcriptionSeconds;
        if (r.aiProcessed) sum.aiCount = saturatingAdd(sum.aiCount, 1);
    }
    return sum;
}

std::vector<DailyBucket> Stats::dailyBuckets(int days) {
    if (days <= 0) return {};
    const auto nowMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(clock_->now().time_since_epoch())
            .count();
    const QDate today = QDateTime::fromMSecsSinceEpoch(nowMs, Qt::LocalTime).date();
    const QLocale russian(QLocale::Russian, QLocale::Russia);
    const auto records = loadAll();

    std::vector<DailyBucket> buckets;
    buckets.reserve(static_cast<size_t>(days));
    for (int i = 0; i < days; ++i) {
        const QDate day = today.addDays(i - (days - 1));
        const Date start = startOfDay(day);
        const Date end = startOfDay(day.addDays(1));
        DailyBucket bucket{russian.toString(day, QStringLiteral("ddd")).toStdString(), 0, 0};
        for (const auto& r : records) {
            if (r.date >= start && r.date < end) {
                bucket.characters = saturatingAdd(bucket.characters, r.characters);
                bucket.speechSeconds += r.seconds;
            }
        }
        buckets.push_back(std::move(bucket));
    }
    return buckets;
}

} // namespace halvex
