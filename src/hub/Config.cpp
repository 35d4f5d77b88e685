#include "hub/Config.h"

#include "platform/text/CaseMapping.h"
#include "platform/text/UnicodeProperties.h"
#include "platform/text/Utf8.h"

#include <bit>
#include <cstring>
#include <fmt/format.h>

namespace hub {
namespace text = platform::text;
namespace {

const Config& nullConfig() {
    static const Config null;
    return null;
}

std::optional<bool> booleanOfText(std::string_view text) {
    if (text.size() > 5) return std::nullopt;
    const std::string lower = text::toLower(text);
    if (lower == "true" || lower == "t" || lower == "1") return true;
    if (lower == "false" || lower == "f" || lower == "0") return false;
    return std::nullopt;
}

std::size_t combine(std::size_t seed, std::size_t value) {
    return seed ^ (value + 0x9E3779B97F4A7C15ull + (seed << 6) + (seed >> 2));
}

std::string floatText(float value) {
    std::string text = fmt::format("{}", value);
    if (text.find_first_of(".eEna") == std::string::npos) text += ".0";
    return text;
}

} // namespace

Config::Config(Dictionary dictionary)
    : data_(std::in_place_index<4>, std::make_shared<const Dictionary>(std::move(dictionary))) {}

Config::Config(Array array)
    : data_(std::in_place_index<5>, std::make_shared<const Array>(std::move(array))) {}

Config Config::object(std::initializer_list<std::pair<BinaryDistinctString, Config>> entries) {
    Dictionary dictionary;
    for (const auto& [key, value] : entries)
        dictionary.insert_or_assign(key, value);
    return Config(std::move(dictionary));
}

Config Config::array(std::initializer_list<Config> elements) {
    return Config(Array(elements));
}

std::string Config::uncamelCase(std::string_view key) {
    std::string result;
    result.reserve(key.size() + 4);
    bool previousNotUpper = false;
    for (std::size_t i = 0; i < key.size();) {
        const std::size_t start = i;
        const char32_t cp = text::decodeNext(key, i);
        const bool upper = cp < 0x80 ? (cp >= 'A' && cp <= 'Z') : text::isUppercaseLetter(cp);
        if (upper) {
            if (previousNotUpper) result.push_back('_');
            result += text::toLower(key.substr(start, i - start));
        } else {
            result.append(key.substr(start, i - start));
        }
        previousNotUpper = !upper;
    }
    return result;
}

const Config& Config::operator[](std::string_view key) const {
    const Config* found = optionalMember(key);
    return found ? *found : nullConfig();
}

const Config* Config::optionalMember(std::string_view key) const {
    const Dictionary* dict = dictionary();
    if (!dict) return nullptr;
    if (auto it = dict->find(key); it != dict->end()) return &it->second;
    const std::string snake = uncamelCase(key);
    if (snake != key) {
        if (auto it = dict->find(std::string_view(snake)); it != dict->end()) return &it->second;
    }
    return &nullConfig();
}

const Config& Config::at(std::int64_t index) const {
    const Array* elements = array();
    if (!elements || index < 0 || index >= static_cast<std::int64_t>(elements->size()))
        return nullConfig();
    return (*elements)[static_cast<std::size_t>(index)];
}

std::optional<std::string> Config::string() const {
    if (const auto* s = std::get_if<0>(&data_)) return s->str();
    return std::nullopt;
}

std::string Config::string(std::string fallback) const {
    if (const auto* s = std::get_if<0>(&data_)) return s->str();
    return fallback;
}

const BinaryDistinctString* Config::binaryDistinctString() const {
    return std::get_if<0>(&data_);
}

std::optional<std::int64_t> Config::integer() const {
    if (const auto* v = std::get_if<1>(&data_)) return *v;
    return std::nullopt;
}

std::int64_t Config::integer(std::int64_t fallback) const {
    return integer().value_or(fallback);
}

std::optional<float> Config::floating() const {
    if (const auto* v = std::get_if<3>(&data_)) return *v;
    if (const auto* v = std::get_if<1>(&data_)) return static_cast<float>(*v);
    return std::nullopt;
}

float Config::floating(float fallback) const {
    return floating().value_or(fallback);
}

std::optional<bool> Config::boolean() const {
    switch (kind()) {
    case Kind::boolean:
        return std::get<2>(data_);
    case Kind::integer:
        return std::get<1>(data_) == 1;
    case Kind::string:
        return booleanOfText(std::get<0>(data_).view());
    default:
        return std::nullopt;
    }
}

bool Config::boolean(bool fallback) const {
    return boolean().value_or(fallback);
}

const Config::Dictionary* Config::dictionary() const {
    if (const auto* d = std::get_if<4>(&data_)) return d->get();
    if (const auto* deferred = std::get_if<8>(&data_)) return (*deferred)->converted().dictionary();
    return nullptr;
}

const Config::Array* Config::array() const {
    if (const auto* a = std::get_if<5>(&data_)) return a->get();
    if (const auto* deferred = std::get_if<8>(&data_)) return (*deferred)->converted().array();
    return nullptr;
}

std::size_t Config::size() const {
    if (const auto* d = std::get_if<4>(&data_)) return (*d)->size();
    if (const auto* a = std::get_if<5>(&data_)) return (*a)->size();
    if (const auto* deferred = std::get_if<8>(&data_)) return (*deferred)->size();
    return 0;
}

void Config::forEachMember(const MemberVisitor& visit) const {
    if (const auto* deferred = std::get_if<8>(&data_)) {
        if ((*deferred)->isDictionary()) (*deferred)->forEachMember(visit);
    } else if (const Dictionary* d = dictionary()) {
        for (const auto& [key, value] : *d)
            visit(key.view(), value);
    }
}

void Config::forEachElement(const ElementVisitor& visit) const {
    if (const auto* deferred = std::get_if<8>(&data_)) {
        if (!(*deferred)->isDictionary()) (*deferred)->forEachElement(visit);
    } else if (const Array* a = array()) {
        for (const Config& element : *a)
            visit(element);
    }
}

std::optional<Config::Token> Config::token() const {
    if (const auto* t = std::get_if<6>(&data_)) return *t;
    if (const Array* a = array(); a && a->size() == 2) {
        const auto* text = (*a)[0].binaryDistinctString();
        const auto id = (*a)[1].integer();
        // A negative id cannot form a token id: no token.
        if (text && id && *id >= 0) return Token{static_cast<std::uint64_t>(*id), *text};
    }
    return std::nullopt;
}

std::optional<std::vector<std::string>> Config::stringArray() const {
    const Array* a = array();
    if (!a) return std::nullopt;
    std::vector<std::string> texts;
    for (const Config& element : *a)
        if (const auto* s = element.binaryDistinctString()) texts.push_back(s->str());
    return texts;
}

std::optional<BinaryDistinctMap<std::int64_t>> Config::integerDictionary() const {
    const Dictionary* d = dictionary();
    if (!d) return std::nullopt;
    BinaryDistinctMap<std::int64_t> out;
    out.reserve(d->size());
    for (const auto& [key, value] : *d)
        if (auto i = value.integer()) out.emplace(key, *i);
    return out;
}

bool Config::operator==(const Config& other) const {
    const Kind a = kind(), b = other.kind();
    auto crossBoolean = [](const Config& value, bool flag) -> bool {
        const auto reading = value.boolean();
        return reading && *reading == flag;
    };
    if (a == Kind::boolean && (b == Kind::string || b == Kind::integer))
        return crossBoolean(other, std::get<2>(data_));
    if (b == Kind::boolean && (a == Kind::string || a == Kind::integer))
        return crossBoolean(*this, std::get<2>(other.data_));
    if (a == Kind::integer && b == Kind::floating)
        return static_cast<float>(std::get<1>(data_)) == std::get<3>(other.data_);
    if (a == Kind::floating && b == Kind::integer)
        return std::get<3>(data_) == static_cast<float>(std::get<1>(other.data_));
    if (a != b) return false;
    switch (a) {
    case Kind::string:
        return std::get<0>(data_) == std::get<0>(other.data_);
    case Kind::integer:
        return std::get<1>(data_) == std::get<1>(other.data_);
    case Kind::boolean:
        return std::get<2>(data_) == std::get<2>(other.data_);
    case Kind::floating:
        return std::get<3>(data_) == std::get<3>(other.data_);
    case Kind::dictionary: {
        const Dictionary &x = *dictionary(), &y = *other.dictionary();
        if (x.size() != y.size()) return false;
        for (const auto& [key, value] : x) {
            auto it = y.find(key);
            if (it == y.end() || !(value == it->second)) return false;
        }
        return true;
    }
    case Kind::array: {
        const Array &x = *array(), &y = *other.array();
        if (x.size() != y.size()) return false;
        for (std::size_t i = 0; i < x.size(); ++i)
            if (!(x[i] == y[i])) return false;
        return true;
    }
    case Kind::token:
        return std::get<6>(data_) == std::get<6>(other.data_);
    case Kind::null:
        return true;
    }
    return false;
}

std::size_t Config::hash() const {
    switch (kind()) {
    case Kind::null:
        return 0;
    case Kind::string:
        return combine(1, std::hash<BinaryDistinctString>{}(std::get<0>(data_)));
    case Kind::integer:
        return combine(2, std::hash<std::int64_t>{}(std::get<1>(data_)));
    case Kind::boolean:
        return combine(3, std::get<2>(data_) ? 1 : 0);
    case Kind::floating: {
        float f = std::get<3>(data_);
        if (f == 0.0f) f = 0.0f; // -0 hashes as +0
        return combine(4, std::bit_cast<std::uint32_t>(f));
    }
    case Kind::dictionary: {
        std::size_t sum = 0; // order-independent
        for (const auto& [key, value] : *dictionary())
            sum += combine(std::hash<BinaryDistinctString>{}(key), value.hash());
        return combine(5, sum);
    }
    case Kind::array: {
        std::size_t seed = 6;
        for (const Config& element : *array())
            seed = combine(seed, element.hash());
        return seed;
    }
    case Kind::token: {
        const Token& t = std::get<6>(data_);
        return combine(combine(7, std::hash<std::uint64_t>{}(t.id)),
                       std::hash<BinaryDistinctString>{}(t.text));
    }
    }
    return 0;
}

std::string Config::description() const {
    switch (kind()) {
    case Kind::string: {
        std::string out(1, '"');
        out += std::get<0>(data_).str();
        out += '"';
        return out;
    }
    case Kind::integer:
        return std::to_string(std::get<1>(data_));
    case Kind::boolean:
        return std::get<2>(data_) ? "true" : "false";
    case Kind::floating:
        return floatText(std::get<3>(data_));
    case Kind::dictionary: {
        const Dictionary& d = *dictionary();
        if (d.empty()) return "{[:]}";
        std::string out = "{[";
        bool first = true;
        for (const auto& [key, value] : d) {
            if (!first) out += ", ";
            first = false;
            out += key.str() + ": " + value.description();
        }
        return out + "]}";
    }
    case Kind::array: {
        std::string out = "[[";
        bool first = true;
        for (const Config& element : *array()) {
            if (!first) out += ", ";
            first = false;
            out += element.description();
        }
        return out + "]]";
    }
    case Kind::token: {
        const Token& t = std::get<6>(data_);
        return fmt::format("({}, {})", t.id, t.text.str());
    }
    case Kind::null:
        return "null";
    }
    return "null";
}

} // namespace hub
