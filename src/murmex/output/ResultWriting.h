#pragma once
// Writers that turn one transcription result into a file in an output
// folder: JSON, SubRip (SRT) and WebVTT. The subtitle writers emit one cue
// per word when a segment carries word timings, else one cue per segment.
// Files are written atomically (a temporary file in the folder, then a
// rename), so a reader never sees half a file; every failure comes back as
// a failure value and leaves no file behind.

#include "murmex/records/TranscriptionResult.h"
#include "platform/system/Outcome.h"

#include <any>
#include <string>
#include <string_view>
#include <unordered_map>

namespace murmex {

class ResultWriting {
public:
    using Options = std::unordered_map<std::string, std::any>;

    virtual ~ResultWriting() = default;

    /// The folder that receives the written files.
    virtual const std::string& outputDir() const = 0;

    /// Writes `<outputDir>/<name>.<extension>`, replacing any file there.
    /// Success carries the file's absolute "file://" URL; failure the error of
    /// encoding or writing. `options` is not used by the built-in writers.
    virtual platform::system::Outcome<std::string> write(const TranscriptionResult& result,
                                                         const std::string& name,
                                                         const Options& options = {}) = 0;

    /// "HH:MM:SS<marker>mmm" when `alwaysIncludeHours` or the hours are above
    /// 0, else "MM:SS<marker>mmm"; single-precision arithmetic, every part
    /// truncated. Times that are negative or not a number count as 0, and the
    /// parts of infinite or huge times saturate instead of overflowing.
    virtual std::string formatTime(float seconds, bool alwaysIncludeHours,
                                   std::string_view decimalMarker) const;

    /// An SRT cue: "<index>\n<start> --> <end>\n<text>\n\n", hours always shown, marker ",".
    std::string formatSegment(int index, float start, float end, std::string_view text) const;
    /// A WebVTT cue: "<start> --> <end>\n<text>\n\n", hours only when above 0, marker ".".
    std::string formatTiming(float start, float end, std::string_view text) const;

protected:
    /// Writes `contents` atomically to `<outputDir>/<name>.<extension>`.
    platform::system::Outcome<std::string>
    writeFile(const std::string& name, std::string_view extension, std::string_view contents) const;

    /// The cues of every segment in order: per word when the segment has at
    /// least one word timing, else one for the segment. `cue(start, end, text)`
    /// makes the text of one cue.
    template <typename CueFn>
    static std::string subtitleCues(const TranscriptionResult& result, CueFn&& cue);
};

/// The built-in writers' common part: the output folder, stored as given;
/// nothing is created or checked until a write.
class FileResultWriter : public ResultWriting {
public:
    explicit FileResultWriter(std::string outputDir) : outputDir_(std::move(outputDir)) {}
    const std::string& outputDir() const override { return outputDir_; }

private:
    std::string outputDir_;
};

template <typename CueFn>
std::string ResultWriting::subtitleCues(const TranscriptionResult& result, CueFn&& cue) {
    std::string text;
    for (const TranscriptionSegment& segment : result.segments()) {
        if (segment.words && !segment.words->empty()) {
            for (const WordTiming& word : *segment.words)
                text += cue(word.start, word.end, word.word);
        } else {
            text += cue(segment.start, segment.end, segment.text);
        }
    }
    return text;
}

} // namespace murmex
