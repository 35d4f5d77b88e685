#include "tokenizers/PreTokenizer.h"

#include "tokenizers/ByteEncoder.h"
#include "tokenizers/ConfigurationError.h"
#include "tokenizers/TextSplitting.h"

namespace tokenizers {
namespace {

// The fixed expressions are compiled once per process.
std::shared_ptr<const Regex> sharedRegex(const std::string& pattern) {
    return std::make_shared<const Regex>(pattern);
}

const std::shared_ptr<const Regex>& byteLevelRegex() {
    static const auto re = sharedRegex(ByteLevelPreTokenizer::RE);
    return re;
}

constexpr std::string_view kAsciiPunctuation =
    "\\u0021-\\u002F\\u003A-\\u0040\\u005B-\\u0060\\u007B-\\u007E";

} // namespace

const std::string ByteLevelPreTokenizer::RE =
    "'s|'t|'re|'ve|'m|'ll|'d| ?\\p{L}+| ?\\p{N}+| ?[^\\s\\p{L}\\p{N}]+|\\s+(?!\\S)|\\s+";

std::vector<std::string> PreTokenizer::preTokenize(const std::vector<std::string>& texts,
                                                   PreTokenizerOptions options) const {
    std::vector<std::string> out;
    for (const auto& text : texts) {
        auto pieces = preTokenize(std::string_view(text), options);
        out.insert(out.end(), std::make_move_iterator(pieces.begin()),
                   std::make_move_iterator(pieces.end()));
    }
    return out;
}

PreTokenizerPtr PreTokenizerFactory::fromConfig(const hub::Config& config) {
    const auto type = config["type"].string();
    if (!type) return nullptr;
    const std::string& t = *type;
    if (t == "Sequence") return std::make_shared<PreTokenizerSequence>(config);
    if (t == "ByteLevel") return std::make_shared<ByteLevelPreTokenizer>(config);
    if (t == "Punctuation") return std::make_shared<PunctuationPreTokenizer>();
    if (t == "Digits") return std::make_shared<DigitsPreTokenizer>(config);
    if (t == "Split") return std::make_shared<SplitPreTokenizer>(config);
    if (t == "Whitespace" || t == "WhitespaceSplit")
        return std::make_shared<WhitespacePreTokenizer>();
    if (t == "Metaspace") return std::make_shared<MetaspacePreTokenizer>(config);
    if (t == "BertPreTokenizer") return std::make_shared<BertPreTokenizer>();
    throw ConfigurationError("Unsupported PreTokenizer type: " + t);
}

PreTokenizerSequence::PreTokenizerSequence(const hub::Config& config) {
    const auto* elements = config["pretokenizers"].array();
    if (!elements) throw ConfigurationError("No pretokenizers in Sequence");
    for (const hub::Config& element : *elements)
        if (auto p = PreTokenizerFactory::fromConfig(element))
            preTokenizers_.push_back(std::move(p));
}

std::vector<std::string> PreTokenizerSequence::preTokenize(std::string_view text,
                                                           PreTokenizerOptions options) const {
    std::vector<std::string> pieces{std::string(text)};
    for (const auto& p : preTokenizers_)
        pieces = p->preTokenize(pieces, options);
    return pieces;
}

std::vector<std::string> RegexPreTokenizer::preTokenize(std::string_view text,
                                                        PreTokenizerOptions) const {
    return textsOf(text, rangesOfRegex(text, *re_));
}

ByteLevelPreTokenizer::ByteLevelPreTokenizer(const hub::Config& config)
    : addPrefixSpace_(config["addPrefixSpace"].boolean(false)),
      trimOffsets_(config["trimOffsets"].boolean(true)),
      useRegex_(config["useRegex"].boolean(true)) {}

std::vector<std::string> ByteLevelPreTokenizer::preTokenize(std::string_view text,
                                                            PreTokenizerOptions options) const {
    std::vector<std::string> pieces;
    forEachPiece(text, options, [&](std::string_view piece) { pieces.emplace_back(piece); });
    return pieces;
}

void ByteLevelPreTokenizer::forEachPiece(std::string_view text, PreTokenizerOptions,
                                         const std::function<void(std::string_view)>& sink) const {
    const auto& alphabet = byteEncoder();
    std::string encoded;
    auto emit = [&](std::string_view piece) {
        encoded.clear();
        if (addPrefixSpace_ && (piece.empty() || piece.front() != ' ')) encoded += alphabet[' '];
        for (unsigned char b : piece)
            encoded += alphabet[b];
        sink(encoded);
    };
    if (!useRegex_) {
        emit(text);
        return;
    }
    Regex::Scanner scanner(*byteLevelRegex(), text);
    std::size_t pos = 0;
    while (auto m = scanner.find(pos)) {
        emit(text.substr(m->begin, m->end - m->begin));
        pos = m->end; // every branch of the expression consumes at least one character
    }
}

PunctuationPreTokenizer::PunctuationPreTokenizer()
    : RegexPreTokenizer([] {
          static const auto re = sharedRegex("[^\\p{P}" + std::string(kAsciiPunctuation) +
                                             "]+|[\\p{P}" + std::string(kAsciiPunctuation) + "]+");
          return re;
      }()) {}

DigitsPreTokenizer::DigitsPreTokenizer(const hub::Config& config)
    : RegexPreTokenizer([&] {
          static const auto individual = sharedRegex("[^\\d]+|\\d");
          static const auto runs = sharedRegex("[^\\d]+|\\d+");
          return config["individualDigits"].boolean(false) ? individual : runs;
      }()) {}

WhitespacePreTokenizer::WhitespacePreTokenizer()
    : RegexPreTokenizer([] {
          static const auto re = sharedRegex("\\S+");
          return re;
      }()) {}

BertPreTokenizer::BertPreTokenizer()
    : RegexPreTokenizer([] {
          static const auto re = sharedRegex("[^\\s\\p{P}" + std::string(kAsciiPunctuation) +
                                             "]+|[\\p{P}" + std::string(kAsciiPunctuation) + "]");
          return re;
      }()) {}

SplitPreTokenizer::SplitPreTokenizer(const hub::Config& config)
    : pattern_(StringSplitPattern::from(config)), invert_(config["invert"].boolean(false)) {
    // A separator that can be empty would cut nowhere useful (or everywhere):
    // refuse the document instead.
    if (pattern_ && pattern_->matchesEmpty())
        throw ConfigurationError("Split pattern matches the empty text: " + pattern_->text());
}

std::vector<std::string> SplitPreTokenizer::preTokenize(std::string_view text,
                                                        PreTokenizerOptions) const {
    if (!pattern_) return {std::string(text)};
    const bool keepSeparators = pattern_->isRegexp() || !invert_;
    return splitAt(text, pattern_->ranges(text), keepSeparators);
}

MetaspacePreTokenizer::MetaspacePreTokenizer(const hub::Config& config)
    : addPrefixSpace_(config["addPrefixSpace"].boolean(false)),
      replacement_(config["replacement"].string(" ")),
      stringReplacement_(config["strRep"].string(replacement_)),
      prependScheme_(PrependScheme::always) {
    if (auto scheme = config["prependScheme"].string()) {
        prependScheme_ = *scheme == "first"   ? PrependScheme::first
                         : *scheme == "never" ? PrependScheme::never
                                              : PrependScheme::always;
    } else {
        prependScheme_ =
            config["addPrefixSpace"].boolean(true) ? PrependScheme::always : PrependScheme::never;
    }
    auto compiled = Regex::compile(replacement_);
    if (!compiled) throw ConfigurationError("Cannot build regexp from " + replacement_);
    if (compiled->matchesEmpty())
        throw ConfigurationError("Metaspace replacement matches the empty text: " + replacement_);
    replacementRegex_ = std::make_shared<const Regex>(std::move(*compiled));
}

std::vector<std::string> MetaspacePreTokenizer::preTokenize(std::string_view text,
                                                            PreTokenizerOptions options) const {
    std::string replaced;
    replaced.reserve(text.size() + stringReplacement_.size());
    for (char c : text) {
        if (c == ' ')
            replaced += stringReplacement_;
        else
            replaced += c;
    }
    const bool prefix = !(replaced.rfind(replacement_, 0) == 0) &&
                        prependScheme_ != PrependScheme::never &&
                        !(prependScheme_ == PrependScheme::first &&
                          !options.contains(PreTokenizerOption::firstSection));
    if (prefix) replaced.insert(0, stringReplacement_);
    return splitAt(replaced, rangesOfRegex(replaced, *replacementRegex_),
                   SplitDelimiterBehavior::mergedWithNext);
}

} // namespace tokenizers
