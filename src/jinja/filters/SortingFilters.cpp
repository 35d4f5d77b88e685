#include "jinja/PropertyMembers.h"
#include "jinja/filters/FilterRows.h"
#include "jinja/filters/FilterSupport.h"
#include "jinja/filters/UnicodeText.h"

#include <unordered_set>

namespace jinja::filters {

namespace {

// Stable merge sort of positions 0 ... n - 1, short runs sorted by insertion.
// `before(a, b)` may throw, and it need not be a consistent order: the sort
// still ends and returns every position once.
template <class Before> std::vector<std::size_t> stableOrder(std::size_t n, Before before) {
    std::vector<std::size_t> order(n), buffer(n);
    for (std::size_t i = 0; i < n; ++i)
        order[i] = i;
    constexpr std::size_t run = 16;
    for (std::size_t lo = 0; lo < n; lo += run) {
        std::size_t hi = std::min(n, lo + run);
        for (std::size_t i = lo + 1; i < hi; ++i) {
            std::size_t x = order[i], j = i;
            while (j > lo && before(x, order[j - 1])) {
                order[j] = order[j - 1];
                --j;
            }
            order[j] = x;
        }
    }
    for (std::size_t width = run; width < n; width *= 2) {
        for (std::size_t lo = 0; lo < n; lo += 2 * width) {
            std::size_t mid = std::min(n, lo + width), hi = std::min(n, lo + 2 * width);
            std::size_t a = lo, b = mid, k = lo;
            while (a < mid && b < hi)
                buffer[k++] = before(order[b], order[a]) ? order[b++] : order[a++];
            while (a < mid)
                buffer[k++] = order[a++];
            while (b < hi)
                buffer[k++] = order[b++];
        }
        order.swap(buffer);
    }
    return order;
}

// Lower-cased copies of the string values, for comparisons that ignore case.
std::vector<Value> foldedKeys(const std::vector<Value>& keys, bool caseSensitive) {
    std::vector<Value> folded = keys;
    if (!caseSensitive)
        for (Value& k : folded)
            if (k.isString()) k = Value(text::toLower(k.asString()));
    return folded;
}

JINJA_FILTER(sort) {
    if (args.empty() || !args[0].isArray()) return Value(Array{});
    static const Parameter params[] = {
        {"reverse", Value(false)}, {"case_sensitive", Value(false)}, {"attribute", Value()}};
    CallArguments bound = bindAfterOperand(params, args, kwargs);
    const bool reverse = bound[0].isTruthy(), caseSensitive = bound[1].isTruthy();
    std::vector<std::string> names;
    if (bound[2].isString()) {
        std::string_view attributeList = bound[2].asString();
        std::size_t start = 0;
        while (start <= attributeList.size()) {
            std::size_t comma = attributeList.find(',', start);
            std::string_view piece = attributeList.substr(
                start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
            piece = text::trimCodePoints(piece, text::isWhiteSpace);
            if (!piece.empty()) names.emplace_back(piece);
            if (comma == std::string_view::npos) break;
            start = comma + 1;
        }
    }
    Array items = args[0].asArray();
    auto sortBy = [&](const std::vector<Value>& keys) {
        std::vector<Value> folded = foldedKeys(keys, caseSensitive);
        // Equal folded strings tie; everything else orders by compare(), whose
        // failure ends the sort.
        auto order = stableOrder(items.size(), [&](std::size_t a, std::size_t b) {
            const Value &x = folded[a], &y = folded[b];
            if (x.isString() && y.isString() && x.asString() == y.asString()) return false;
            return x.compare(y) < 0;
        });
        Array sorted;
        sorted.reserve(items.size());
        for (std::size_t i : order)
            sorted.push_back(items[i]);
        items = std::move(sorted);
    };
    if (names.empty()) {
        sortBy(items);
    } else {
        for (auto name = names.rbegin(); name != names.rend(); ++name) {
            std::vector<Value> keys;
            keys.reserve(items.size());
            for (const Value& item : items)
                keys.push_back(PropertyMembers::evaluate(item, *name));
            sortBy(keys);
        }
    }
    if (reverse) std::reverse(items.begin(), items.end());
    return Value(std::move(items));
}

// Order of group keys: strings by code points, other comparable pairs by
// compare(), anything else by the printed forms. Never fails.
int groupOrder(const Value& a, const Value& b) {
    if (a.isString() && b.isString()) return text::compareText(a.asString(), b.asString());
    if ((a.isNumeric() && b.isNumeric()) || (a.isString() && b.isString())) return a.compare(b);
    return text::compareText(a.description(), b.description());
}

JINJA_FILTER(groupby) {
    if (args.empty() || !args[0].isArray()) return Value(Array{});
    static const Parameter params[] = {
        {"attribute", std::nullopt}, {"default", Value()}, {"case_sensitive", Value(false)}};
    CallArguments bound = bindAfterOperand(params, args, kwargs);
    if (!bound[0].isString())
        throw JinjaError::runtime("groupby filter requires attribute parameter");
    const Array& items = args[0].asArray();
    std::vector<Value> display;
    display.reserve(items.size());
    for (const Value& item : items) {
        Value key = PropertyMembers::evaluate(item, bound[0].asString());
        display.push_back(key.isUndefined() ? bound[1] : std::move(key));
    }
    std::vector<Value> normalized = foldedKeys(display, bound[2].isTruthy());
    auto order = stableOrder(items.size(), [&](std::size_t a, std::size_t b) {
        return groupOrder(normalized[a], normalized[b]) < 0;
    });
    Array groups;
    const Value* lastKey = nullptr;
    Array current;
    Value currentDisplay;
    auto flush = [&] {
        Object group;
        group.insert_or_assign(ObjectKey("grouper"), currentDisplay);
        group.insert_or_assign(ObjectKey("list"), Value(std::move(current)));
        groups.emplace_back(std::move(group));
        current = Array{};
    };
    for (std::size_t i : order) {
        if (!lastKey || !normalized[i].isEquivalent(*lastKey)) {
            if (lastKey) flush();
            lastKey = &normalized[i];
            currentDisplay = display[i];
        }
        current.push_back(items[i]);
    }
    if (lastKey) flush();
    return Value(std::move(groups));
}

JINJA_FILTER(dictsort) {
    if (args.empty() || !args[0].isObject()) return Value(Array{});
    static const Parameter params[] = {
        {"case_sensitive", Value(false)}, {"by", Value("key")}, {"reverse", Value(false)}};
    CallArguments bound = bindAfterOperand(params, args, kwargs);
    const bool caseSensitive = bound[0].isTruthy(), reverse = bound[2].isTruthy();
    const bool byValue = bound[1].isString() && bound[1].asString() == "value";
    const Object& object = args[0].asObject();
    std::vector<const std::pair<ObjectKey, Value>*> entries;
    entries.reserve(object.size());
    for (const auto& entry : object)
        entries.push_back(&entry);
    std::vector<std::string> printedValues;
    if (byValue)
        for (const auto* entry : entries)
            printedValues.push_back(printed(entry->second));
    auto cmp = [&](std::size_t a, std::size_t b) {
        if (byValue) return text::compareText(printedValues[a], printedValues[b], !caseSensitive);
        const ObjectKey &x = entries[a]->first, &y = entries[b]->first;
        if (x.isInt() && y.isInt())
            return x.number() < y.number() ? -1 : x.number() > y.number() ? 1 : 0;
        if (x.isInt() != y.isInt()) return x.isInt() ? -1 : 1;
        return text::compareText(x.text(), y.text(), !caseSensitive);
    };
    auto order = stableOrder(entries.size(), [&](std::size_t a, std::size_t b) {
        return cmp(a, b) == (reverse ? 1 : -1);
    });
    Array out;
    out.reserve(entries.size());
    for (std::size_t i : order)
        out.push_back(Value(Array{Value(entries[i]->first), entries[i]->second}));
    return Value(std::move(out));
}

JINJA_FILTER(unique) {
    if (args.empty() || !args[0].isArray()) return Value(Array{});
    static const Parameter params[] = {{"case_sensitive", Value(false)}, {"attribute", Value()}};
    CallArguments bound = bindAfterOperand(params, args, kwargs);
    const bool caseSensitive = bound[0].isTruthy();
    std::unordered_set<Value, ValueHash> seen;
    Array out;
    for (const Value& item : args[0].asArray()) {
        Value key = bound[1].isNull() ? item : Filters::resolveAttributeValue(item, bound[1]);
        if (key.isString() && !caseSensitive) key = Value(text::toLower(key.asString()));
        if (seen.insert(std::move(key)).second) out.push_back(item);
    }
    return Value(std::move(out));
}

constexpr FilterRow kRows[] = {
    {"sort", sort},
    {"groupby", groupby},
    {"dictsort", dictsort},
    {"unique", unique},
};

} // namespace

std::span<const FilterRow> sortingFilterRows() {
    return kRows;
}

} // namespace jinja::filters
