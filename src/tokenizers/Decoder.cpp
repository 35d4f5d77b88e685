#include "tokenizers/Decoder.h"

#include "platform/text/Graphemes.h"
#include "platform/text/Utf8.h"
#include "tokenizers/ByteEncoder.h"
#include "tokenizers/ConfigurationError.h"
#include "tokenizers/TextEdits.h"

namespace tokenizers {
namespace text = platform::text;
namespace {

// Joined byte-level text back to bytes, then to text. A character outside
// the byte alphabet keeps its own UTF-8 bytes, so nothing is lost.
void closeByteRun(std::string& run, std::vector<std::string>& out) {
    if (run.empty()) return;
    std::string bytes;
    bytes.reserve(run.size());
    for (std::size_t i = 0; i < run.size();) {
        const std::size_t start = i;
        const char32_t cp = text::decodeNext(run, i);
        if (auto b = byteOfCharacter(cp))
            bytes.push_back(static_cast<char>(*b));
        else
            bytes.append(run, start, i - start);
    }
    out.push_back(text::repairUtf8(bytes));
    run.clear();
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

} // namespace

DecoderPtr DecoderFactory::fromConfig(const hub::Config& config,
                                      const std::unordered_set<std::string>* addedTokens) {
    const auto type = config["type"].string();
    if (!type) return nullptr;
    const std::string& t = *type;
    if (t == "Sequence") return std::make_shared<DecoderSequence>(config);
    if (t == "WordPiece") return std::make_shared<WordPieceDecoder>(config);
    if (t == "ByteLevel")
        return std::make_shared<ByteLevelDecoder>(addedTokens ? *addedTokens
                                                              : std::unordered_set<std::string>{});
    if (t == "Replace") return std::make_shared<ReplaceDecoder>(config);
    if (t == "ByteFallback") return std::make_shared<ByteFallbackDecoder>();
    if (t == "Fuse") return std::make_shared<FuseDecoder>();
    if (t == "Strip") return std::make_shared<StripDecoder>(config);
    if (t == "Metaspace") return std::make_shared<MetaspaceDecoder>(config);
    throw ConfigurationError("Unsupported Decoder type: " + t);
}

DecoderSequence::DecoderSequence(const hub::Config& config) {
    const auto* elements = config["decoders"].array();
    if (!elements) throw ConfigurationError("No decoders in Sequence");
    for (const hub::Config& element : *elements)
        if (auto d = DecoderFactory::fromConfig(element)) decoders_.push_back(std::move(d));
}

std::vector<std::string> DecoderSequence::decode(const std::vector<std::string>& tokens) const {
    std::vector<std::string> current = tokens;
    for (const auto& d : decoders_)
        current = d->decode(current);
    return current;
}

WordPieceDecoder::WordPieceDecoder(const hub::Config& config)
    : cleanup_(config["cleanup"].boolean(false)) {
    auto prefix = config["prefix"].string();
    if (!prefix) throw ConfigurationError("Missing `prefix` configuration for WordPieceDecoder.");
    prefix_ = std::move(*prefix);
    static const auto re =
        std::make_shared<const Regex>("\\s(\\.|\\?|\\!|\\,|'\\s|n't|'m|'s|'ve|'re)");
    re_ = re;
}

std::string WordPieceDecoder::cleanUp(const std::string& text) const {
    return replaceAll(re_->replaceAll(text, "$1"), " do not", " don't");
}

std::vector<std::string> WordPieceDecoder::decode(const std::vector<std::string>& tokens) const {
    std::vector<std::string> out;
    out.reserve(tokens.size());
    for (std::size_t k = 0; k < tokens.size(); ++k) {
        std::string token = tokens[k];
        if (k > 0) {
            if (token.rfind(prefix_, 0) == 0)
                token.erase(0, prefix_.size());
            else
                token = std::string(1, ' ').append(token);
        }
        out.push_back(cleanup_ ? cleanUp(token) : std::move(token));
    }
    return out;
}

std::vector<std::string> ByteLevelDecoder::decode(const std::vector<std::string>& tokens) const {
    std::vector<std::string> out;
    std::string run;
    for (const auto& token : tokens) {
        if (addedTokens_.count(token)) {
            closeByteRun(run, out);
            out.push_back(token);
        } else {
            run += token;
        }
    }
    closeByteRun(run, out);
    return out;
}

std::vector<std::string> ReplaceDecoder::decode(const std::vector<std::string>& tokens) const {
    if (!pattern_) return tokens;
    std::vector<std::string> out;
    out.reserve(tokens.size());
    for (const auto& token : tokens)
        out.push_back(pattern_->apply(token));
    return out;
}

std::optional<std::uint8_t> ByteFallbackDecoder::byteOfToken(std::string_view token) {
    // Six ASCII characters "<0xHH>"; a sign or any non-hex character makes
    // it an ordinary token, so no value outside 0-255 is ever taken.
    if (token.size() != 6 || token.substr(0, 3) != "<0x" || token[5] != '>') return std::nullopt;
    const int hi = hexValue(token[3]), lo = hexValue(token[4]);
    if (hi < 0 || lo < 0) return std::nullopt;
    return static_cast<std::uint8_t>(hi * 16 + lo);
}

std::vector<std::string> ByteFallbackDecoder::decode(const std::vector<std::string>& tokens) const {
    std::vector<std::string> out;
    std::string bytes;
    auto flush = [&] {
        if (bytes.empty()) return;
        out.push_back(text::repairUtf8(bytes));
        bytes.clear();
    };
    for (const auto& token : tokens) {
        if (auto b = byteOfToken(token)) {
            bytes.push_back(static_cast<char>(*b));
        } else {
            flush();
            out.push_back(token);
        }
    }
    flush();
    return out;
}

std::vector<std::string> FuseDecoder::decode(const std::vector<std::string>& tokens) const {
    std::string joined;
    for (const auto& t : tokens)
        joined += t;
    return {joined};
}

StripDecoder::StripDecoder(const hub::Config& config) {
    auto content = config["content"].string();
    if (!content)
        throw ConfigurationError("Incorrect StripDecoder configuration: can't parse `content`.");
    auto start = config["start"].integer();
    if (!start)
        throw ConfigurationError("Incorrect StripDecoder configuration: can't parse `start`.");
    auto stop = config["stop"].integer();
    if (!stop)
        throw ConfigurationError("Incorrect StripDecoder configuration: can't parse `stop`.");
    content_ = std::move(*content);
    start_ = *start;
    stop_ = *stop;
}

std::vector<std::string> StripDecoder::decode(const std::vector<std::string>& tokens) const {
    std::vector<std::string> out;
    out.reserve(tokens.size());
    for (const auto& token : tokens) {
        const auto bounds = text::graphemeBoundaries(token);
        std::size_t first = 0, last = bounds.size() - 1;
        auto is = [&](std::size_t k) {
            return std::string_view(token).substr(bounds[k], bounds[k + 1] - bounds[k]) == content_;
        };
        for (std::int64_t n = 0; n < start_ && first < last && is(first); ++n)
            ++first;
        for (std::int64_t n = 0; n < stop_ && last > first && is(last - 1); ++n)
            --last;
        out.push_back(token.substr(bounds[first], bounds[last] - bounds[first]));
    }
    return out;
}

std::vector<std::string> MetaspaceDecoder::decode(const std::vector<std::string>& tokens) const {
    std::vector<std::string> out;
    out.reserve(tokens.size());
    for (const auto& token : tokens)
        out.push_back(replaceAll(token, replacement_, " "));
    if (addPrefixSpace_ && !out.empty() && !out.front().empty() && out.front().front() == ' ')
        out.front().erase(0, 1);
    return out;
}

} // namespace tokenizers
