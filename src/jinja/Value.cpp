#include "jinja/Value.h"

#include "jinja/Hasher.h"
#include "jinja/Macro.h"
#include "jinja/NestingGuard.h"
#include "jinja/Unicode.h"
#include "platform/text/NumberText.h"
#include "platform/text/Utf8.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>

namespace jinja {

Value::Value(std::string value)
    : kind_(Kind::string), storage_(std::make_shared<std::string>(std::move(value))) {}
Value::Value(char32_t codePoint) : kind_(Kind::string) {
    auto text = std::make_shared<std::string>();
    platform::text::appendUtf8(*text, codePoint);
    storage_ = std::move(text);
}

Value::Value(Array value)
    : kind_(Kind::array), storage_(std::make_shared<detail::ArrayBox>(std::move(value))) {}
Value::Value(Object value)
    : kind_(Kind::object), storage_(std::make_shared<detail::ObjectBox>(std::move(value))) {}
Value::Value(Function value)
    : kind_(Kind::function), storage_(std::make_shared<Function>(std::move(value))) {}
Value::Value(Macro value)
    : kind_(Kind::macro), storage_(std::make_shared<Macro>(std::move(value))) {}
Value::Value(std::shared_ptr<const Macro> value)
    : kind_(Kind::macro), storage_(std::const_pointer_cast<Macro>(std::move(value))) {}

Value::Value(const ObjectKey& key) {
    if (key.isInt()) {
        kind_ = Kind::int_;
        scalar_.integer = key.number();
    } else {
        *this = Value(key.text());
    }
}

Value Value::undefined() noexcept {
    Value value;
    value.kind_ = Kind::undefined;
    return value;
}

Value Value::object(const tsl::ordered_map<std::string, Value>& entries) {
    Object object;
    object.reserve(entries.size());
    for (const auto& [key, value] : entries)
        objectSet(object, key, value);
    return Value(std::move(object));
}

Value Value::object(const std::unordered_map<std::string, Value>& entries) {
    std::vector<const std::pair<const std::string, Value>*> sorted;
    sorted.reserve(entries.size());
    for (const auto& entry : entries)
        sorted.push_back(&entry);
    std::sort(sorted.begin(), sorted.end(), [](const auto* a, const auto* b) {
        return unicode::compareCanonical(a->first, b->first) < 0;
    });
    Object object;
    object.reserve(entries.size());
    for (const auto* entry : sorted)
        objectSet(object, entry->first, entry->second);
    return Value(std::move(object));
}

Value Value::fromDictionaryLiteral(
    std::initializer_list<std::pair<std::string_view, Value>> pairs) {
    Object object;
    object.reserve(pairs.size());
    for (const auto& [key, value] : pairs)
        objectSet(object, key, value);
    return Value(std::move(object));
}

Value Value::fromDictionaryLiteral(const std::vector<std::pair<std::string, Value>>& pairs) {
    Object object;
    object.reserve(pairs.size());
    for (const auto& [key, value] : pairs)
        objectSet(object, key, value);
    return Value(std::move(object));
}

std::string_view Value::kindName(Kind kind) noexcept {
    static constexpr std::string_view names[] = {
        "boolean", "int",      "double", "string", "array",
        "object",  "function", "macro",  "null",   "undefined",
    };
    return names[static_cast<std::size_t>(kind)];
}

std::shared_ptr<const Macro> Value::macroPointer() const noexcept {
    if (kind_ != Kind::macro) return nullptr;
    return std::static_pointer_cast<const Macro>(storage_);
}

Array& Value::mutableArray() {
    if (storage_.use_count() > 1) storage_ = std::make_shared<detail::ArrayBox>(asArray());
    return static_cast<detail::ArrayBox*>(storage_.get())->items;
}

Object& Value::mutableObject() {
    if (storage_.use_count() > 1) storage_ = std::make_shared<detail::ObjectBox>(asObject());
    return static_cast<detail::ObjectBox*>(storage_.get())->items;
}

namespace {

// Teardown of nested containers: while one container is being released,
// the containers it holds are parked in a list owned by the outermost release
// and released one after another, so the depth of a value never becomes the
// depth of the call stack. The list is reached through a plain pointer so that
// releases during thread or program exit find no destroyed thread state.
thread_local std::vector<Value>* parked = nullptr;

template <class Park> void releaseContents(Park park) {
    if (parked) {
        park(*parked);
        return;
    }
    std::vector<Value> pending;
    park(pending);
    if (pending.empty()) return;
    parked = &pending;
    while (!pending.empty()) {
        Value next = std::move(pending.back());
        pending.pop_back();
    }
    parked = nullptr;
}

// A container this release frees. One that other values still share only
// loses a reference: its contents stay where they are.
bool isReleasedContainer(const Value& v) noexcept {
    return (v.isArray() || v.isObject()) && !v.isShared();
}

} // namespace

detail::ArrayBox::~ArrayBox() {
    releaseContents([this](std::vector<Value>& pending) {
        for (Value& v : items)
            if (isReleasedContainer(v)) pending.push_back(std::move(v));
    });
}

detail::ObjectBox::~ObjectBox() {
    releaseContents([this](std::vector<Value>& pending) {
        for (auto it = items.begin(); it != items.end(); ++it)
            if (isReleasedContainer(it->second)) pending.push_back(std::move(it.value()));
    });
}

std::optional<ObjectKey> Value::toObjectKey() const {
    if (kind_ == Kind::int_) return ObjectKey(scalar_.integer);
    if (kind_ == Kind::string) return ObjectKey(asString());
    return std::nullopt;
}

const Value* objectGet(const Object& object, std::string_view key) {
    auto found = object.find(key);
    return found == object.end() ? nullptr : &found->second;
}

void objectSet(Object& object, std::string_view key, Value value) {
    auto found = object.find(key);
    if (found != object.end())
        found.value() = std::move(value);
    else
        object.emplace(ObjectKey(key), std::move(value));
}

void objectRemove(Object& object, std::string_view key) {
    auto found = object.find(key);
    if (found != object.end()) object.erase(found);
}

} // namespace jinja

// Printing, truth, equality and hashing ------------------------------------

namespace jinja {

namespace {

// Plain decimal notation from 1e-4 up to the last double below 1e16;
// every NaN prints as "nan".
void appendDouble(std::string& out, double d) {
    constexpr double kLargestPlain = 9999999999999998.0;
    if (std::isnan(d))
        out += "nan";
    else
        platform::text::appendShortestText(out, d, kLargestPlain);
}

std::size_t doubleHash(double d) noexcept {
    if (d == 0.0) return 0;
    return std::hash<std::uint64_t>{}(std::bit_cast<std::uint64_t>(d));
}

} // namespace

void Value::appendDescription(std::string& out) const {
    switch (kind_) {
    case Kind::boolean:
        out += scalar_.boolean ? "true" : "false";
        break;
    case Kind::int_: {
        char buffer[24];
        auto result = std::to_chars(buffer, buffer + sizeof buffer, scalar_.integer);
        out.append(buffer, result.ptr);
        break;
    }
    case Kind::double_:
        appendDouble(out, scalar_.number);
        break;
    case Kind::string:
        out += asString();
        break;
    case Kind::array: {
        NestingGuard guard;
        out += '[';
        bool first = true;
        for (const Value& element : asArray()) {
            if (!first) out += ", ";
            first = false;
            if (element.isString()) {
                out += '\'';
                out += element.asString();
                out += '\'';
            } else {
                element.appendDescription(out);
            }
        }
        out += ']';
        break;
    }
    case Kind::object: {
        NestingGuard guard;
        out += '{';
        bool first = true;
        for (const auto& [key, value] : asObject()) {
            if (!first) out += ", ";
            first = false;
            out += key.description();
            out += ": ";
            value.appendDescription(out);
        }
        out += '}';
        break;
    }
    case Kind::function:
        out += "[Function]";
        break;
    case Kind::macro:
        out += "[Macro ";
        out += asMacro().name;
        out += ']';
        break;
    case Kind::null:
    case Kind::undefined:
        break;
    }
}

std::string Value::description() const {
    if (kind_ == Kind::string) return asString();
    std::string out;
    appendDescription(out);
    return out;
}

bool Value::isTruthy() const noexcept {
    switch (kind_) {
    case Kind::boolean:
        return scalar_.boolean;
    case Kind::int_:
        return scalar_.integer != 0;
    case Kind::double_:
        return scalar_.number != 0.0;
    case Kind::string:
        return !asString().empty();
    case Kind::array:
        return !asArray().empty();
    case Kind::object:
        return !asObject().empty();
    case Kind::function:
    case Kind::macro:
        return true;
    case Kind::null:
    case Kind::undefined:
        return false;
    }
    return false;
}

bool operator==(const Value& a, const Value& b) {
    if (a.kind_ != b.kind_) return false;
    std::optional<NestingGuard> guard;
    if (a.isArray() || a.isObject()) guard.emplace();
    using Kind = Value::Kind;
    switch (a.kind_) {
    case Kind::boolean:
        return a.scalar_.boolean == b.scalar_.boolean;
    case Kind::int_:
        return a.scalar_.integer == b.scalar_.integer;
    case Kind::double_:
        return a.scalar_.number == b.scalar_.number;
    case Kind::string:
        return unicode::canonicallyEqual(a.asString(), b.asString());
    case Kind::array:
        return a.asArray() == b.asArray();
    case Kind::object: {
        const Object& x = a.asObject();
        const Object& y = b.asObject();
        if (x.size() != y.size()) return false;
        auto j = y.begin();
        for (auto i = x.begin(); i != x.end(); ++i, ++j)
            if (!(i->first == j->first) || !(i->second == j->second)) return false;
        return true;
    }
    case Kind::function:
        return false;
    case Kind::macro:
        return a.storage_ == b.storage_ || a.asMacro() == b.asMacro();
    case Kind::null:
    case Kind::undefined:
        return true;
    }
    return false;
}

std::size_t Value::hash() const {
    std::optional<NestingGuard> guard;
    if (isArray() || isObject()) guard.emplace();
    switch (kind_) {
    case Kind::boolean:
        return std::hash<bool>{}(scalar_.boolean);
    case Kind::int_:
        return std::hash<std::int64_t>{}(scalar_.integer);
    case Kind::double_:
        return doubleHash(scalar_.number);
    case Kind::string:
        return unicode::canonicalHash(asString());
    case Kind::array: {
        Hasher h;
        h.feed(asArray().size());
        for (const Value& element : asArray())
            h.feed(element.hash());
        return h.state;
    }
    case Kind::object: {
        Hasher h;
        h.feed(asObject().size());
        for (const auto& [key, value] : asObject()) {
            h.feed(key.hash());
            h.feed(value.hash());
        }
        return h.state;
    }
    case Kind::macro:
        return asMacro().hash();
    case Kind::function:
    case Kind::null:
    case Kind::undefined:
        return 0;
    }
    return 0;
}

} // namespace jinja
