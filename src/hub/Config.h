#pragma once
// The dynamic, JSON-shaped value that holds a model's configuration
// documents. Dictionary keys are exact code-unit strings; member lookup also
// finds the snake_case form of a camelCase name; the typed readers are
// lenient and never fail (a wrong kind or a missing key gives absent, a
// default or null). Values are immutable and cheap to copy: containers are
// shared.

#include "hub/BinaryDistinctString.h"

#include <concepts>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace jinja {
class Value;
}

namespace hub {

class Config {
public:
    enum class Kind : std::uint8_t {
        string,
        integer,
        boolean,
        floating,
        dictionary,
        array,
        token,
        null
    };

    using Dictionary = BinaryDistinctMap<Config>;
    using Array = std::vector<Config>;
    struct Token {
        std::uint64_t id = 0;
        BinaryDistinctString text;
        bool operator==(const Token&) const = default;
    };

    Config() = default;                                                                   // null
    Config(std::nullptr_t) {}                                                             // NOLINT
    Config(BinaryDistinctString text) : data_(std::in_place_index<0>, std::move(text)) {} // NOLINT
    Config(std::string text) : Config(BinaryDistinctString(std::move(text))) {}           // NOLINT
    Config(std::string_view text) : Config(BinaryDistinctString(text)) {}                 // NOLINT
    Config(const char* text) : Config(BinaryDistinctString(text)) {}                      // NOLINT
    template <std::integral T>
    requires(!std::same_as<T, bool>) Config(T value)
        : data_(std::in_place_index<1>, static_cast<std::int64_t>(value)) {} // NOLINT
    Config(bool value) : data_(std::in_place_index<2>, value) {}             // NOLINT
    template <std::floating_point T>
    Config(T value) : data_(std::in_place_index<3>, static_cast<float>(value)) {} // NOLINT
    Config(Dictionary dictionary);                                                // NOLINT
    Config(Array array);                                                          // NOLINT
    Config(Token token) : data_(std::in_place_index<6>, std::move(token)) {}      // NOLINT

    using MemberVisitor = std::function<void(std::string_view key, const Config& value)>;
    using ElementVisitor = std::function<void(const Config& element)>;

    /// A large array or object of a parsed document, kept in the parser's
    /// form: it is converted into a Dictionary or Array the first time it is
    /// used as one (safe from several threads), and forEachMember /
    /// forEachElement walk it without converting it as a whole. A tokenizer
    /// vocabulary of 50k entries is read once this way instead of being
    /// built twice.
    class Deferred {
    public:
        virtual ~Deferred() = default;
        virtual bool isDictionary() const = 0;
        virtual std::size_t size() const = 0;
        /// The converted dictionary or array, built on the first call.
        virtual const Config& converted() const = 0;
        /// Members in document order; a repeated key is visited each time,
        /// its last value being the one the converted dictionary keeps.
        virtual void forEachMember(const MemberVisitor& visit) const = 0;
        virtual void forEachElement(const ElementVisitor& visit) const = 0;
    };
    explicit Config(std::shared_ptr<const Deferred> deferred)
        : data_(std::in_place_index<8>, std::move(deferred)) {}

    /// A dictionary from key/value pairs; a repeated key keeps the last value.
    static Config object(std::initializer_list<std::pair<BinaryDistinctString, Config>> entries);
    static Config array(std::initializer_list<Config> elements);

    Kind kind() const {
        if (const auto* deferred = std::get_if<8>(&data_))
            return (*deferred)->isDictionary() ? Kind::dictionary : Kind::array;
        return static_cast<Kind>(data_.index());
    }
    bool isNull() const { return kind() == Kind::null; }

    /// Member lookup: the value under `key` exactly, else under
    /// uncamelCase(key), else null; null when this is not a dictionary.
    const Config& operator[](std::string_view key) const;
    const Config& operator[](const char* key) const { return (*this)[std::string_view(key)]; }
    /// The optional form: absent (nullptr) only when this is not a
    /// dictionary; a missing key gives a present null.
    const Config* optionalMember(std::string_view key) const;
    /// Array element, or null when out of range or not an array.
    const Config& at(std::int64_t index) const;
    template <std::integral T> const Config& operator[](T index) const {
        return at(static_cast<std::int64_t>(index));
    }

    // Typed readers.
    std::optional<std::string> string() const;
    std::string string(std::string fallback) const;
    const BinaryDistinctString* binaryDistinctString() const;
    std::optional<std::int64_t> integer() const;
    std::int64_t integer(std::int64_t fallback) const;
    std::optional<float> floating() const;
    float floating(float fallback) const;
    /// A boolean; the integer 1 (any other integer is false); the texts
    /// "true"/"t"/"1" and "false"/"f"/"0" in any case.
    std::optional<bool> boolean() const;
    bool boolean(bool fallback) const;
    const Dictionary* dictionary() const;
    const Array* array() const;
    /// Number of members of a dictionary (converting a deferred one) or
    /// elements of an array; 0 otherwise.
    std::size_t size() const;
    /// Calls visit(key, value) for every member of a dictionary (nothing for
    /// other kinds), without converting a deferred object as a whole. The
    /// key views stay valid while this value lives.
    void forEachMember(const MemberVisitor& visit) const;
    /// Calls visit(element) for every element of an array, in order.
    void forEachElement(const ElementVisitor& visit) const;
    /// A token value, or a two-element array [text, integer >= 0].
    std::optional<Token> token() const;
    /// The texts of the string elements of an array, in order.
    std::optional<std::vector<std::string>> stringArray() const;
    /// The entries of a dictionary whose value is an integer.
    std::optional<BinaryDistinctMap<std::int64_t>> integerDictionary() const;

    bool operator==(const Config& other) const;
    std::size_t hash() const;
    std::string description() const;

    /// JSON text: strings, numbers (floats in their shortest form), booleans,
    /// null, arrays, objects (keys in code-unit order) and tokens as
    /// [id, text]. Throws std::domain_error for a non-finite float.
    std::string encodeJson() const;
    /// Reads JSON text as the coding form does: a two-element array of a
    /// non-negative integer and a text is a token. Throws
    /// YYJSONParser::ParseError for text that is not JSON.
    static Config decodeJson(std::string_view json);

    /// The template value of this configuration.
    jinja::Value jinjaValue() const;

    /// camelCase -> snake_case, one scalar at a time (see the source).
    static std::string uncamelCase(std::string_view key);

private:
    std::variant<BinaryDistinctString, std::int64_t, bool, float, std::shared_ptr<const Dictionary>,
                 std::shared_ptr<const Array>, Token, std::monostate,
                 std::shared_ptr<const Deferred>>
        data_{std::in_place_index<7>};
};

} // namespace hub

template <> struct std::hash<hub::Config> {
    std::size_t operator()(const hub::Config& c) const noexcept { return c.hash(); }
};
