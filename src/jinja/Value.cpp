#include "jinja/Value.h"

#include "jinja/Macro.h"
#include "jinja/Unicode.h"

#include <algorithm>

namespace jinja {

Value::Value(std::string value) : kind_(Kind::string), storage_(std::make_shared<std::string>(std::move(value))) {}
Value::Value(Array value) : kind_(Kind::array), storage_(std::make_shared<Array>(std::move(value))) {}
Value::Value(Object value) : kind_(Kind::object), storage_(std::make_shared<Object>(std::move(value))) {}
Value::Value(Function value) : kind_(Kind::function), storage_(std::make_shared<Function>(std::move(value))) {}
Value::Value(Macro value) : kind_(Kind::macro), storage_(std::make_shared<Macro>(std::move(value))) {}
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
    for (const auto& [key, value] : entries) objectSet(object, key, value);
    return Value(std::move(object));
}

Value Value::object(const std::unordered_map<std::string, Value>& entries) {
    std::vector<const std::pair<const std::string, Value>*> sorted;
    sorted.reserve(entries.size());
    for (const auto& entry : entries) sorted.push_back(&entry);
    std::sort(sorted.begin(), sorted.end(), [](const auto* a, const auto* b) {
        return unicode::compareCanonical(a->first, b->first) < 0;
    });
    Object object;
    object.reserve(entries.size());
    for (const auto* entry : sorted) objectSet(object, entry->first, entry->second);
    return Value(std::move(object));
}

Value Value::fromDictionaryLiteral(std::initializer_list<std::pair<std::string_view, Value>> pairs) {
    Object object;
    object.reserve(pairs.size());
    for (const auto& [key, value] : pairs) objectSet(object, key, value);
    return Value(std::move(object));
}

Value Value::fromDictionaryLiteral(const std::vector<std::pair<std::string, Value>>& pairs) {
    Object object;
    object.reserve(pairs.size());
    for (const auto& [key, value] : pairs) objectSet(object, key, value);
    return Value(std::move(object));
}

std::string_view Value::kindName(Kind kind) noexcept {
    static constexpr std::string_view names[] = {
        "boolean", "int", "double", "string", "array", "object", "function", "macro", "null", "undefined",
    };
    return names[static_cast<std::size_t>(kind)];
}

std::shared_ptr<const Macro> Value::macroPointer() const noexcept {
    if (kind_ != Kind::macro) return nullptr;
    return std::static_pointer_cast<const Macro>(storage_);
}

Array& Value::mutableArray() {
    if (storage_.use_count() > 1) storage_ = std::make_shared<Array>(asArray());
    return *static_cast<Array*>(storage_.get());
}

Object& Value::mutableObject() {
    if (storage_.use_count() > 1) storage_ = std::make_shared<Object>(asObject());
    return *static_cast<Object*>(storage_.get());
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
