#include "murmex/core/text/SegmentSeeker.h"

#include "murmex/base/Constants.h"
#include "murmex/base/WhisperError.h"
#include "platform/text/UnicodeProperties.h"
#include "platform/text/Utf8.h"
#include "tessary_core/FloatExtensions.h"
#include "tessary_core/Logging.h"
#include "tessary_core/StringExtensions.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <string_view>

namespace murmex {
namespace {

constexpr int kFramesPerWindow = 1500;

std::vector<int> tokensBelow(const std::vector<int>& tokens, int limit) {
    std::vector<int> kept;
    kept.reserve(tokens.size());
    for (int token : tokens) {
        if (token < limit) kept.push_back(token);
    }
    return kept;
}

// Substring membership, as the punctuation sets are given as strings. An
// empty word is no punctuation mark.
bool occursIn(std::string_view set, std::string_view word) {
    return !word.empty() && set.find(word) != std::string_view::npos;
}

std::string trimmed(std::string_view text) {
    return tessary::trimmingWhitespaceAndNewlines(text);
}

bool isSentenceEnd(std::string_view word) {
    static constexpr std::array<std::string_view, 6> kMarks{".",      "\u3002", "!",
                                                            "\uFF01", "?",      "\uFF1F"};
    return std::find(kMarks.begin(), kMarks.end(), word) != kMarks.end();
}

WordTiming joined(const WordTiming& first, const WordTiming& second, const WordTiming& timesFrom) {
    WordTiming merged = timesFrom;
    merged.word = first.word + second.word;
    merged.tokens = first.tokens;
    merged.tokens.insert(merged.tokens.end(), second.tokens.begin(), second.tokens.end());
    return merged;
}

} // namespace

// MARK: - Segments and seek point

std::pair<int, std::optional<std::vector<TranscriptionSegment>>>
SegmentSeeker::findSeekPointAndSegments(const DecodingResult& result,
                                        const DecodingOptions& options, int allSegmentsCount,
                                        int currentSeek, int segmentSize, int sampleRate,
                                        int timeToken, int /*specialToken*/,
                                        const WhisperTokenizer& tokenizer) {
    // A window that is probably silent is skipped, unless it was decoded with
    // confidence.
    if (options.noSpeechThreshold && result.noSpeechProb > *options.noSpeechThreshold &&
        !(options.logProbThreshold && result.avgLogProb > *options.logProbThreshold)) {
        return {currentSeek + segmentSize, std::nullopt};
    }

    const std::vector<int>& tokens = result.tokens;
    const size_t count = tokens.size();
    const float timeOffset = static_cast<float>(currentSeek) / static_cast<float>(sampleRate);
    const int specialTokenBegin = tokenizer.specialTokens().specialTokenBegin;
    auto isTimestamp = [&](size_t i) { return tokens[i] >= timeToken; };

    bool singleTimestampEnding = false;
    bool noTimestampEnding = false;
    if (count >= 3) {
        const bool a = isTimestamp(count - 3), b = isTimestamp(count - 2),
                   c = isTimestamp(count - 1);
        singleTimestampEnding = !a && b && !c;
        noTimestampEnding = !a && !b && !c;
    }

    std::vector<size_t> sliceEnds;
    for (size_t i = 1; i < count; ++i) {
        if (isTimestamp(i - 1) && isTimestamp(i)) sliceEnds.push_back(i);
    }

    auto textOf = [&](const std::vector<int>& slice) {
        return tokenizer.decode(options.skipSpecialTokens ? tokensBelow(slice, specialTokenBegin)
                                                          : slice);
    };
    auto makeSegment = [&](size_t begin, size_t end, float start, float stop, int id) {
        TranscriptionSegment segment;
        segment.id = id;
        segment.seek = currentSeek;
        segment.start = start;
        segment.end = stop;
        segment.tokens.assign(tokens.begin() + static_cast<std::ptrdiff_t>(begin),
                              tokens.begin() + static_cast<std::ptrdiff_t>(end));
        const size_t probsEnd = std::min(end, result.tokenLogProbs.size());
        if (begin < probsEnd) {
            segment.tokenLogProbs.assign(
                result.tokenLogProbs.begin() + static_cast<std::ptrdiff_t>(begin),
                result.tokenLogProbs.begin() + static_cast<std::ptrdiff_t>(probsEnd));
        }
        segment.text = textOf(segment.tokens);
        segment.temperature = result.temperature;
        segment.avgLogprob = result.avgLogProb;
        segment.compressionRatio = result.compressionRatio;
        segment.noSpeechProb = result.noSpeechProb;
        return segment;
    };

    std::vector<TranscriptionSegment> segments;
    int seek;
    if (!sliceEnds.empty()) {
        if (singleTimestampEnding) {
            size_t lastTimestamp = count - 2; // the middle of [text, timestamp, text]
            sliceEnds.push_back(lastTimestamp + 1);
        } else if (noTimestampEnding) {
            sliceEnds.push_back(count);
        }
        size_t previous = 0;
        for (size_t end : sliceEnds) {
            std::optional<int> first, last;
            for (size_t i = previous; i < end; ++i) {
                if (isTimestamp(i)) {
                    if (!first) first = tokens[i];
                    last = tokens[i];
                }
            }
            const float start =
                timeOffset + static_cast<float>(first.value_or(timeToken) - timeToken) *
                                 Constants::secondsPerTimeToken;
            const float stop =
                timeOffset + static_cast<float>(last.value_or(timeToken) - timeToken) *
                                 Constants::secondsPerTimeToken;
            segments.push_back(makeSegment(previous, end, start, stop,
                                           allSegmentsCount + static_cast<int>(segments.size())));
            previous = end;
        }
        if (noTimestampEnding) {
            seek = currentSeek + segmentSize;
        } else {
            const size_t index = singleTimestampEnding ? sliceEnds.back() - 1 : sliceEnds.back();
            const int lastTimestamp = tokens[std::min(index, count - 1)];
            seek = currentSeek + static_cast<int>(static_cast<float>(lastTimestamp - timeToken) *
                                                  Constants::secondsPerTimeToken *
                                                  static_cast<float>(sampleRate));
        }
    } else {
        float duration = static_cast<float>(segmentSize) / static_cast<float>(sampleRate);
        for (size_t i = count; i-- > 0;) {
            if (tokens[i] > timeToken) {
                duration =
                    static_cast<float>(tokens[i] - timeToken) * Constants::secondsPerTimeToken;
                break;
            }
        }
        segments.push_back(
            makeSegment(0, count, timeOffset, timeOffset + duration, allSegmentsCount));
        seek = currentSeek + segmentSize;
    }
    return {seek, std::move(segments)};
}

// MARK: - Word timestamps

SegmentSeeker::AlignmentPath
SegmentSeeker::dynamicTimeWarping(const platform::ml::MultiArray& matrix) const {
    if (!matrix.isValid() || matrix.shape().size() != 2 || matrix.shape()[0] < 0 ||
        matrix.shape()[1] < 0 || matrix.shape()[0] > std::numeric_limits<int>::max() ||
        matrix.shape()[1] > std::numeric_limits<int>::max()) {
        throw WhisperError::segmentingFailed("Invalid alignment matrix shape");
    }
    std::vector<float> values = matrix.toFloatVector();
    return dynamicTimeWarping(values, static_cast<int>(matrix.shape()[0]),
                              static_cast<int>(matrix.shape()[1]));
}

SegmentSeeker::AlignmentPath SegmentSeeker::dynamicTimeWarping(const std::vector<float>& weights,
                                                               int rows, int columns) {
    const auto n = static_cast<size_t>(rows);
    const auto m = static_cast<size_t>(columns);
    const size_t width = m + 1;
    std::vector<double> cost((n + 1) * width, std::numeric_limits<double>::infinity());
    std::vector<int8_t> trace((n + 1) * width, -1);
    cost[0] = 0;
    for (size_t j = 1; j <= m; ++j)
        trace[j] = 2;
    for (size_t i = 1; i <= n; ++i)
        trace[i * width] = 1;

    // Weights are subtracted: the cheapest path collects the most attention.
    for (size_t i = 1; i <= n; ++i) {
        for (size_t j = 1; j <= m; ++j) {
            const double w = weights[(i - 1) * m + (j - 1)];
            const double c0 = cost[(i - 1) * width + (j - 1)] - w;
            const double c1 = cost[(i - 1) * width + j] - w;
            const double c2 = cost[i * width + (j - 1)] - w;
            double c;
            int8_t t;
            if (c0 < c1 && c0 < c2) {
                c = c0;
                t = 0;
            } else if (c1 < c0 && c1 < c2) {
                c = c1;
                t = 1;
            } else {
                c = c2;
                t = 2;
            }
            cost[i * width + j] = c;
            trace[i * width + j] = t;
        }
    }

    AlignmentPath path;
    size_t i = n, j = m;
    while (i > 0 || j > 0) {
        path.textIndices.push_back(static_cast<int>(i) - 1);
        path.timeIndices.push_back(static_cast<int>(j) - 1);
        switch (trace[i * width + j]) {
        case 0:
            --i;
            --j;
            break;
        case 1:
            --i;
            break;
        default:
            --j;
            break;
        }
    }
    std::reverse(path.textIndices.begin(), path.textIndices.end());
    std::reverse(path.timeIndices.begin(), path.timeIndices.end());
    return path;
}

std::vector<WordTiming> SegmentSeeker::findAlignment(const std::vector<int>& wordTokenIds,
                                                     const std::vector<float>& matrix, int columns,
                                                     const std::vector<float>& tokenLogProbs,
                                                     const WhisperTokenizer& tokenizer) const {
    const AlignmentPath path =
        dynamicTimeWarping(matrix, static_cast<int>(wordTokenIds.size()), columns);
    const WordTokens split = tokenizer.splitToWordTokens(wordTokenIds);
    if (split.wordTokens.size() < 2) return {};

    // A token starts where the path first reaches its row and ends where the
    // path moves on to the next token.
    std::vector<float> starts{0.0f};
    std::vector<float> ends;
    for (size_t p = 1; p < path.textIndices.size(); ++p) {
        if (path.textIndices[p] != path.textIndices[p - 1]) {
            const float time =
                static_cast<float>(path.timeIndices[p]) * Constants::secondsPerTimeToken;
            starts.push_back(time);
            ends.push_back(time);
        }
    }
    ends.push_back(
        static_cast<float>(path.timeIndices.empty() ? kFramesPerWindow : path.timeIndices.back()) *
        Constants::secondsPerTimeToken);

    std::vector<WordTiming> words;
    size_t position = 0;
    for (size_t k = 0; k < split.wordTokens.size() && k < split.words.size(); ++k) {
        const size_t length = split.wordTokens[k].size();
        if (length == 0 || position + length > starts.size() || position + length > ends.size())
            break;
        double sum = 0;
        size_t counted = 0;
        for (size_t t = position; t < position + length && t < tokenLogProbs.size();
             ++t, ++counted) {
            sum += tokenLogProbs[t];
        }
        const float probability =
            counted ? static_cast<float>(std::exp(sum / static_cast<double>(counted))) : 0.0f;
        words.push_back(WordTiming{split.words[k], split.wordTokens[k], starts[position],
                                   ends[position + length - 1], probability});
        position += length;
    }
    return words;
}

SegmentSeeker::DurationConstraints
SegmentSeeker::calculateWordDurationConstraints(const std::vector<WordTiming>& alignment) const {
    std::vector<float> durations;
    for (const auto& word : alignment) {
        const float duration = word.end - word.start;
        if (duration > 0) durations.push_back(duration);
    }
    std::sort(durations.begin(), durations.end());
    const float median = durations.empty() ? 0.0f : durations[durations.size() / 2];
    const float constrained = std::min(median, 0.7f);
    return {constrained, 2 * constrained};
}

std::vector<WordTiming>
SegmentSeeker::truncateLongWordsAtSentenceBoundaries(std::vector<WordTiming> alignment,
                                                     float maxDuration) const {
    for (size_t i = 1; i < alignment.size(); ++i) {
        WordTiming& word = alignment[i];
        if (word.end - word.start <= maxDuration) continue;
        if (isSentenceEnd(word.word)) {
            word.end = word.start + maxDuration;
        } else if (isSentenceEnd(alignment[i - 1].word)) {
            word.start = word.end - maxDuration;
        }
    }
    return alignment;
}

std::vector<WordTiming> SegmentSeeker::mergePunctuations(const std::vector<WordTiming>& alignment,
                                                         const std::string& prepended,
                                                         const std::string& appended) const {
    if (alignment.empty()) return {};

    // Opening marks that start with a blank join the word after them, taking
    // that word's times. Merging goes into the running entry, so a run of
    // marks ends up whole in front of its word.
    std::vector<WordTiming> opened;
    if (!occursIn(prepended, trimmed(alignment[0].word))) opened.push_back(alignment[0]);
    for (size_t i = 1; i < alignment.size(); ++i) {
        const WordTiming& previous = alignment[i - 1];
        const bool previousIsOpening =
            !previous.word.empty() &&
            platform::text::isSpaceSeparatorOrTab(platform::text::firstCodePoint(previous.word)) &&
            occursIn(prepended, trimmed(previous.word));
        if (!previousIsOpening) {
            opened.push_back(alignment[i]);
            continue;
        }
        if (opened.empty()) {
            opened.push_back(joined(previous, alignment[i], alignment[i]));
        } else {
            opened.back() = joined(opened.back(), alignment[i], alignment[i]);
        }
    }
    if (opened.empty()) return {};

    // Closing marks join the word before them unless it ends with a blank,
    // keeping that word's times; again into the running entry.
    std::vector<WordTiming> closed{opened[0]};
    for (size_t i = 1; i < opened.size(); ++i) {
        const WordTiming& running = closed.back();
        const bool endsWithSpace = !running.word.empty() && running.word.back() == ' ';
        if (!endsWithSpace && occursIn(appended, trimmed(opened[i].word))) {
            closed.back() = joined(running, opened[i], running);
        } else {
            closed.push_back(opened[i]);
        }
    }

    std::vector<WordTiming> result;
    for (auto& word : closed) {
        if (!word.word.empty() && !occursIn(appended, word.word) &&
            !occursIn(prepended, word.word)) {
            result.push_back(std::move(word));
        }
    }
    return result;
}

std::vector<TranscriptionSegment> SegmentSeeker::updateSegmentsWithWordTimings(
    const std::vector<TranscriptionSegment>& segments,
    const std::vector<WordTiming>& mergedAlignment, int seek, float lastSpeechTimestamp,
    float constrainedMedianDuration, float maxDuration, const WhisperTokenizer& tokenizer) const {
    const float seekTime = static_cast<float>(seek) / static_cast<float>(Constants::sampleRate);
    const float c = constrainedMedianDuration;
    const float m = maxDuration;
    const int specialTokenBegin = tokenizer.specialTokens().specialTokenBegin;
    float lastSpeech = lastSpeechTimestamp;
    size_t wordIndex = 0;

    std::vector<TranscriptionSegment> updated;
    updated.reserve(segments.size());
    for (const TranscriptionSegment& original : segments) {
        TranscriptionSegment segment = original;
        const size_t textTokenCount = tokensBelow(segment.tokens, specialTokenBegin).size();
        std::vector<WordTiming> words;
        size_t savedTokens = 0;
        while (savedTokens < textTokenCount && wordIndex < mergedAlignment.size()) {
            const WordTiming& entry = mergedAlignment[wordIndex++];
            std::vector<int> kept = tokensBelow(entry.tokens, specialTokenBegin);
            if (kept.empty()) continue;
            WordTiming word;
            word.word = kept.size() == entry.tokens.size() ? entry.word : tokenizer.decode(kept);
            word.start = tessary::rounded(seekTime + entry.start, 2);
            word.end = tessary::rounded(seekTime + entry.end, 2);
            if (word.end - word.start < c * 0.25f) {
                std::optional<float> previousEnd;
                if (!words.empty()) {
                    previousEnd = words.back().end;
                } else if (!updated.empty()) {
                    previousEnd = updated.back().end;
                }
                if (previousEnd && *previousEnd < word.start) {
                    word.start = tessary::rounded(
                        word.start - std::min(c * 0.5f, word.start - *previousEnd), 2);
                }
            }
            word.probability = tessary::rounded(entry.probability, 2);
            savedTokens += kept.size();
            word.tokens = std::move(kept);
            words.push_back(std::move(word));
        }

        if (!words.empty()) {
            WordTiming& first = words.front();
            // A long first word after a pause usually started later than the
            // alignment says.
            if (first.end - lastSpeech > c * 4 &&
                (first.end - first.start > m ||
                 (words.size() > 1 && words[1].end - first.start > m * 2))) {
                if (words.size() > 1 && words[1].end - words[1].start > m) {
                    const float boundary = std::max(words[1].end * 0.5f, words[1].end - m);
                    first.end = boundary;
                    words[1].start = boundary;
                }
                first.start = std::max(lastSpeech, first.end - m);
            }
            if (original.start < first.end && original.start - 0.5f > first.start) {
                first.start = std::max(0.0f, std::min(first.end - c, original.start));
            } else {
                segment.start = first.start;
            }
            WordTiming& last = words.back();
            if (last.start < original.end && original.end + 0.5f < last.end) {
                last.end = std::max(last.start + c, original.end);
            } else {
                segment.end = last.end;
            }
            lastSpeech = segment.end;
        }
        segment.words = std::move(words);
        updated.push_back(std::move(segment));
    }
    return updated;
}

std::optional<std::vector<TranscriptionSegment>> SegmentSeeker::addWordTimestamps(
    const std::vector<TranscriptionSegment>& segments,
    const platform::ml::MultiArray& alignmentWeights, const WhisperTokenizer& tokenizer, int seek,
    int /*segmentSize*/, const std::string& prependPunctuations,
    const std::string& appendPunctuations, float lastSpeechTimestamp,
    const DecodingOptions& /*options*/, const TranscriptionTimings& /*timings*/) {
    std::vector<int> wordTokenIds;
    std::vector<float> tokenLogProbs;
    for (const auto& segment : segments) {
        for (size_t i = 0; i < segment.tokens.size(); ++i) {
            const int token = segment.tokens[i];
            wordTokenIds.push_back(token);
            if (i < segment.tokenLogProbs.size()) {
                auto found = segment.tokenLogProbs[i].find(token);
                if (found != segment.tokenLogProbs[i].end()) tokenLogProbs.push_back(found->second);
            }
        }
    }

    const auto& shape = alignmentWeights.shape();
    if (!alignmentWeights.isValid() || shape.empty()) {
        throw WhisperError::segmentingFailed("Invalid shape in alignmentWeights");
    }
    const int64_t frames = shape.back();
    const int64_t rows = shape.size() >= 2 ? shape[shape.size() - 2] : 1;
    // Row t of the weights belongs to the t-th token; fewer rows than tokens
    // would mean reading past the matrix.
    if (frames <= 0 || rows < static_cast<int64_t>(wordTokenIds.size()) ||
        frames > std::numeric_limits<int>::max()) {
        throw WhisperError::segmentingFailed("Invalid shape in alignmentWeights");
    }

    const size_t n = wordTokenIds.size();
    const auto f = static_cast<size_t>(frames);
    std::vector<float> matrix(n * f);
    std::vector<int64_t> index(shape.size(), 0);
    const int64_t columnStride = alignmentWeights.strides().back();
    const bool half = alignmentWeights.dataType() == platform::ml::ElementType::float16;
    for (size_t row = 0; row < n; ++row) {
        if (shape.size() >= 2) index[shape.size() - 2] = static_cast<int64_t>(row);
        index.back() = 0;
        float* out = matrix.data() + row * f;
        if (half) {
            const uint16_t* in = alignmentWeights.data<uint16_t>() + alignmentWeights.offset(index);
            for (size_t column = 0; column < f; ++column) {
                out[column] = platform::system::Float16::toFloat(
                    in[static_cast<int64_t>(column) * columnStride]);
            }
        } else {
            for (size_t column = 0; column < f; ++column) {
                index.back() = static_cast<int64_t>(column);
                out[column] = static_cast<float>(alignmentWeights.valueAt(index));
            }
        }
    }
    TESSARY_LOG(debug,
                "Alignment weights shape: [" + std::to_string(n) + ", " + std::to_string(f) + "]");

    std::vector<WordTiming> alignment =
        findAlignment(wordTokenIds, matrix, static_cast<int>(f), tokenLogProbs, tokenizer);
    const DurationConstraints constraints = calculateWordDurationConstraints(alignment);
    alignment = truncateLongWordsAtSentenceBoundaries(std::move(alignment), constraints.max);
    if (!alignment.empty())
        alignment = mergePunctuations(alignment, prependPunctuations, appendPunctuations);
    return updateSegmentsWithWordTimings(segments, alignment, seek, lastSpeechTimestamp,
                                         constraints.median, constraints.max, tokenizer);
}

} // namespace murmex
