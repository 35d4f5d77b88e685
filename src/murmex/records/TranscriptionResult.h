#pragma once
// The result of one transcription of one audio array or file: its text, timed
// segments, language, timings and seek time. Held by std::shared_ptr and read
// and written from several concurrent tasks: every field sits behind its own
// lock. A read copies the field out; a write replaces it; the modify forms
// change a field in place under one lock, so concurrent appends to the
// segments never lose each other's changes. Reads of two fields are two
// separate locked reads; there is no snapshot of several fields at once.

#include "murmex/base/JsonCodingFwd.h"
#include "murmex/records/TranscriptionResultStruct.h"
#include "murmex/records/TranscriptionSegment.h"
#include "murmex/records/TranscriptionTimings.h"
#include "murmex/records/WordTiming.h"
#include "tessary_core/PropertyLock.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace murmex {

class TranscriptionResult {
public:
    TranscriptionResult(std::string text, std::vector<TranscriptionSegment> segments,
                        std::string language, TranscriptionTimings timings,
                        std::optional<float> seekTime = std::nullopt);

    std::string text() const { return text_.get(); }
    void setText(std::string value) { text_.set(std::move(value)); }
    template <typename Fn> decltype(auto) modifyText(Fn&& fn) {
        return text_.modify(std::forward<Fn>(fn));
    }

    std::vector<TranscriptionSegment> segments() const { return segments_.get(); }
    void setSegments(std::vector<TranscriptionSegment> value) { segments_.set(std::move(value)); }
    template <typename Fn> decltype(auto) modifySegments(Fn&& fn) {
        return segments_.modify(std::forward<Fn>(fn));
    }

    std::string language() const { return language_.get(); }
    void setLanguage(std::string value) { language_.set(std::move(value)); }
    template <typename Fn> decltype(auto) modifyLanguage(Fn&& fn) {
        return language_.modify(std::forward<Fn>(fn));
    }

    TranscriptionTimings timings() const { return timings_.get(); }
    void setTimings(TranscriptionTimings value) { timings_.set(std::move(value)); }
    template <typename Fn> decltype(auto) modifyTimings(Fn&& fn) {
        return timings_.modify(std::forward<Fn>(fn));
    }

    std::optional<float> seekTime() const { return seekTime_.get(); }
    void setSeekTime(std::optional<float> value) { seekTime_.set(value); }
    template <typename Fn> decltype(auto) modifySeekTime(Fn&& fn) {
        return seekTime_.modify(std::forward<Fn>(fn));
    }

    /// The words of every segment that has word timings, in segment order.
    std::vector<WordTiming> allWords() const;

    /// One debug line per segment: "[Segment <position>] [<start> --> <end>] <text>",
    /// times with two decimals.
    void logSegments() const;
    /// The timing report (`timingReport()`) as one info line.
    void logTimings() const;
    /// The per-stage timing report, 31 lines without a final newline.
    std::string timingReport() const;

    /// A plain copy of the five fields (each read under its own lock).
    TranscriptionResultStruct toStruct() const;

    /// Keys "text", "segments", "language", "timings", "seekTime"; all five are
    /// always written (an absent seek time as null) and required when reading.
    std::string toJson(bool pretty = false) const;
    static TranscriptionResult fromJson(std::string_view text);
    yyjson_mut_val* toJsonValue(json::Writer& writer) const;
    static TranscriptionResult fromJsonValue(yyjson_val* value);

private:
    tessary::PropertyLock<std::string> text_;
    tessary::PropertyLock<std::vector<TranscriptionSegment>> segments_;
    tessary::PropertyLock<std::string> language_;
    tessary::PropertyLock<TranscriptionTimings> timings_;
    tessary::PropertyLock<std::optional<float>> seekTime_;
};

} // namespace murmex
