#pragma once

#include "jinja/ObjectKey.h"

#include <any>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <tsl/ordered_map.h>
#include <unordered_map>
#include <utility>
#include <vector>

namespace jinja {

class Environment;
class Value;
struct Macro;

using Array = std::vector<Value>;
// Insertion-ordered map: assigning to an existing key replaces in place,
// a new key is appended, erasing closes the gap.
using Object = tsl::ordered_map<ObjectKey, Value, ObjectKeyHash, ObjectKeyEqual,
                                std::allocator<std::pair<ObjectKey, Value>>,
                                std::vector<std::pair<ObjectKey, Value>>>;
// Keyword arguments of a call, by name; no defined order.
using KeywordArguments = std::unordered_map<std::string, Value>;
// A callable value: positional values, keyword values and the scope of the
// call site; returns a value or throws. Must be safe to share between threads.
using Function = std::function<Value(const Array& args, const KeywordArguments& kwargs,
                                     const std::shared_ptr<Environment>& env)>;

// The template value. Scalars are held inline; strings, arrays, objects,
// functions and macros are held by shared immutable storage, so copying a
// Value is cheap. Values behave as independent copies: the mutable*()
// accessors copy the storage first when it is shared.
class Value {
public:
    enum class Kind : std::uint8_t {
        boolean,
        int_,
        double_,
        string,
        array,
        object,
        function,
        macro,
        null,
        undefined
    };

    Value() noexcept = default; // null
    Value(const Value&) = default;
    Value& operator=(const Value&) = default;
    // A moved-from value is null.
    Value(Value&& other) noexcept
        : kind_(other.kind_), scalar_(other.scalar_), storage_(std::move(other.storage_)) {
        other.kind_ = Kind::null;
    }
    Value& operator=(Value&& other) noexcept {
        if (this != &other) {
            kind_ = other.kind_;
            scalar_ = other.scalar_;
            storage_ = std::move(other.storage_);
            other.kind_ = Kind::null;
        }
        return *this;
    }
    Value(std::nullptr_t) noexcept {}
    Value(bool value) noexcept : kind_(Kind::boolean) { scalar_.boolean = value; }
    template <std::integral T>
    requires(!std::same_as<T, bool> && !std::same_as<T, char> && !std::same_as<T, wchar_t> &&
             !std::same_as<T, char8_t> && !std::same_as<T, char16_t> && !std::same_as<T, char32_t>)
        Value(T value)
    noexcept {
        if constexpr (std::is_unsigned_v<T> && sizeof(T) >= sizeof(std::int64_t)) {
            if (value > static_cast<T>(std::numeric_limits<std::int64_t>::max())) {
                kind_ = Kind::double_;
                scalar_.number = static_cast<double>(value);
                return;
            }
        }
        kind_ = Kind::int_;
        scalar_.integer = static_cast<std::int64_t>(value);
    }
    Value(double value) noexcept : kind_(Kind::double_) { scalar_.number = value; }
    Value(float value) noexcept : Value(static_cast<double>(value)) {}
    Value(std::string value);
    Value(std::string_view value) : Value(std::string(value)) {}
    Value(const char* value) : Value(std::string(value)) {}
    Value(char value) : Value(std::string(1, value)) {}
    // A code point, as a one-character string.
    Value(char32_t codePoint);
    Value(Array value);
    Value(Object value);
    Value(Function value);
    Value(Macro value);
    Value(std::shared_ptr<const Macro> value);
    explicit Value(const ObjectKey& key);

    static Value undefined() noexcept;
    static Value null() noexcept { return Value(); }
    // An object with the entries in the given order (string keys).
    static Value object(const tsl::ordered_map<std::string, Value>& entries);
    // An object with the entries in ascending order of their keys.
    static Value object(const std::unordered_map<std::string, Value>& entries);
    // An object from pairs in order; a repeated key keeps its first position and last value.
    static Value
    fromDictionaryLiteral(std::initializer_list<std::pair<std::string_view, Value>> pairs);
    static Value fromDictionaryLiteral(const std::vector<std::pair<std::string, Value>>& pairs);

    // Converts a host datum: empty (null), Value, strings, integers of any
    // width, double, float, bool, std::vector<std::any>, string-keyed maps of
    // std::any (entries sorted by key), Macro, std::optional<std::any>.
    // Anything else throws JinjaError runtime "Cannot convert value of type
    // <name> to Jinja Value".
    static Value fromAny(const std::any& datum);

    struct JsonOptions {
        bool sortKeys = false;      // order object keys by their text
        bool escapeSlashes = false; // write "/" as "\/"
        bool pretty = false;        // one member per line, two spaces per level, " : "
    };
    // JSON form. Objects are written in key order (integer keys first);
    // throws CodingError for functions, colliding key texts and non-finite doubles.
    std::string toJson(const JsonOptions& options) const;
    std::string toJson() const { return toJson(JsonOptions{}); }
    // Reads JSON: null, string, integer, double, boolean, array, object (entries
    // sorted by key). Throws CodingError when the text is not JSON.
    static Value fromJson(std::string_view json);

    Kind kind() const noexcept { return kind_; }
    static std::string_view kindName(Kind kind) noexcept;

    bool isUndefined() const noexcept { return kind_ == Kind::undefined; }
    bool isNull() const noexcept { return kind_ == Kind::null; }
    bool isString() const noexcept { return kind_ == Kind::string; }
    bool isInt() const noexcept { return kind_ == Kind::int_; }
    bool isDouble() const noexcept { return kind_ == Kind::double_; }
    bool isNumeric() const noexcept { return kind_ == Kind::int_ || kind_ == Kind::double_; }
    bool isBoolean() const noexcept { return kind_ == Kind::boolean; }
    bool isIterable() const noexcept {
        return kind_ == Kind::string || kind_ == Kind::array || kind_ == Kind::object;
    }
    bool isObject() const noexcept { return kind_ == Kind::object; }
    bool isFunction() const noexcept { return kind_ == Kind::function; }
    bool isMacro() const noexcept { return kind_ == Kind::macro; }
    bool isArray() const noexcept { return kind_ == Kind::array; }

    // Payload accessors; the caller checks the kind first.
    bool asBool() const noexcept { return scalar_.boolean; }
    std::int64_t asInt() const noexcept { return scalar_.integer; }
    double asDouble() const noexcept { return scalar_.number; }
    // An int or double as a double.
    double toDouble() const noexcept {
        return kind_ == Kind::int_ ? static_cast<double>(scalar_.integer) : scalar_.number;
    }
    const std::string& asString() const noexcept {
        return *static_cast<const std::string*>(storage_.get());
    }
    const Array& asArray() const noexcept;
    const Object& asObject() const noexcept;
    const Function& asFunction() const noexcept {
        return *static_cast<const Function*>(storage_.get());
    }
    const Macro& asMacro() const noexcept { return *static_cast<const Macro*>(storage_.get()); }
    std::shared_ptr<const Macro> macroPointer() const noexcept;

    // Writable payload of an array or object value; copies shared storage first.
    Array& mutableArray();
    Object& mutableObject();
    // The string of a string value that no other value shares, for changing
    // in place; null for other kinds or shared storage.
    std::string* exclusiveString() noexcept {
        return kind_ == Kind::string && storage_.use_count() == 1
                   ? static_cast<std::string*>(storage_.get())
                   : nullptr;
    }
    // The same for the entries of an object value.
    Object* exclusiveObject() noexcept;
    // The same for the callable of a function value.
    Function* exclusiveFunction() noexcept {
        return kind_ == Kind::function && storage_.use_count() == 1
                   ? static_cast<Function*>(storage_.get())
                   : nullptr;
    }
    // Whether another value shares this value's storage.
    bool isShared() const noexcept { return storage_.use_count() > 1; }
    // The address of the shared storage (null for scalars): two values with
    // the same identity share their payload.
    const void* identity() const noexcept { return storage_.get(); }

    // Printed form, as template output and error messages show it.
    std::string description() const;
    void appendDescription(std::string& out) const;
    bool isTruthy() const noexcept;

    // Strict equality: same kind and equal payloads (1 != 1.0, functions never equal).
    friend bool operator==(const Value& a, const Value& b);
    std::size_t hash() const;

    // The object key of an int or string value; absent for other kinds.
    std::optional<ObjectKey> toObjectKey() const;

    // Deepest nesting of arrays and objects that printing, comparing, hashing
    // and coding walk; deeper values make them throw JinjaError (runtime).
    static constexpr std::size_t maxNestingDepth = 1000;

    // Operators of templates. All throw JinjaError runtime, isEquivalent only
    // for values nested too deeply.
    Value add(const Value& other) const;            // +
    Value subtract(const Value& other) const;       // -
    Value multiply(const Value& other) const;       // *
    Value divide(const Value& other) const;         // /  (always double)
    Value floorDivide(const Value& other) const;    // // (always int)
    Value power(const Value& other) const;          // **
    Value modulo(const Value& other) const;         // %  (ints only)
    Value concatenate(const Value& other) const;    // ~  (always string)
    int compare(const Value& other) const;          // <, <=, >, >=: -1, 0 or 1
    bool isEquivalent(const Value& other) const;    // ==, !=
    bool isContained(const Value& container) const; // this in container

private:
    Kind kind_ = Kind::null;
    union Scalar {
        bool boolean;
        std::int64_t integer;
        double number;
    } scalar_{.integer = 0};
    std::shared_ptr<void> storage_;
};

struct ValueHash {
    std::size_t operator()(const Value& value) const { return value.hash(); }
};

namespace detail {

// Storage of array and object values. Releasing the last reference to a
// deeply nested value tears it down level by level instead of recursing.
struct ArrayBox {
    explicit ArrayBox(Array contents) : items(std::move(contents)) {}
    ~ArrayBox();
    Array items;
};

struct ObjectBox {
    explicit ObjectBox(Object contents) : items(std::move(contents)) {}
    ~ObjectBox();
    Object items;
};

} // namespace detail

inline const Array& Value::asArray() const noexcept {
    return static_cast<const detail::ArrayBox*>(storage_.get())->items;
}
inline const Object& Value::asObject() const noexcept {
    return static_cast<const detail::ObjectBox*>(storage_.get())->items;
}
inline Object* Value::exclusiveObject() noexcept {
    return kind_ == Kind::object && storage_.use_count() == 1
               ? &static_cast<detail::ObjectBox*>(storage_.get())->items
               : nullptr;
}

// Access to object entries by plain string key (never matches integer keys).
const Value* objectGet(const Object& object, std::string_view key);
void objectSet(Object& object, std::string_view key, Value value);
void objectRemove(Object& object, std::string_view key);

} // namespace jinja
