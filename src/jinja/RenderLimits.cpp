#include "jinja/RenderLimits.h"

#include "jinja/JinjaError.h"
#include "jinja/Macro.h"
#include "jinja/NestingGuard.h"
#include "jinja/Value.h"

#include <algorithm>

namespace jinja {

void RenderLimits::tooManyBytes() {
    throw JinjaError::runtime("Rendering exceeds the size limit of " +
                              std::to_string(RenderLimits::current().maxBytes) + " bytes");
}

const RenderLimits& RenderLimits::defaults() noexcept {
    static const RenderLimits limits;
    return limits;
}

namespace {

[[noreturn]] void tooManyItems() {
    throw JinjaError::runtime("Value exceeds the size limit of " +
                              std::to_string(RenderLimits::current().maxItems) + " items");
}

// Takes n from the budget; false when the budget does not hold n.
bool take(std::size_t& budget, std::size_t n) {
    if (n > budget) return false;
    budget -= n;
    return true;
}

bool exceedsItems(const Value& v, std::size_t& budget) {
    NestingGuard guard;
    if (v.isArray()) {
        const Array& a = v.asArray();
        if (!take(budget, a.size())) return true;
        for (const Value& e : a)
            if ((e.isArray() || e.isObject()) && exceedsItems(e, budget)) return true;
    } else if (v.isObject()) {
        const Object& o = v.asObject();
        if (!take(budget, o.size())) return true;
        for (const auto& entry : o)
            if ((entry.second.isArray() || entry.second.isObject()) &&
                exceedsItems(entry.second, budget))
                return true;
    }
    return false;
}

// An upper bound of the printed size, cut off once it passes the budget.
bool printedExceeds(const Value& v, std::size_t& budget) {
    NestingGuard guard;
    switch (v.kind()) {
    case Value::Kind::string:
        return !take(budget, v.asString().size() + 2);
    case Value::Kind::array: {
        const Array& a = v.asArray();
        if (!take(budget, 2 + 2 * a.size())) return true;
        for (const Value& e : a)
            if (printedExceeds(e, budget)) return true;
        return false;
    }
    case Value::Kind::object: {
        const Object& o = v.asObject();
        if (!take(budget, 2 + 4 * o.size())) return true;
        for (const auto& [key, e] : o) {
            if (!take(budget, key.isString() ? key.text().size() + 2 : 20)) return true;
            if (printedExceeds(e, budget)) return true;
        }
        return false;
    }
    case Value::Kind::macro:
        return !take(budget, 8 + v.asMacro().name.size());
    default:
        return !take(budget, 24);
    }
}

} // namespace

void RenderLimits::checkBytes(std::size_t n) {
    if (n > current().maxBytes) tooManyBytes();
}

void RenderLimits::checkItems(std::size_t n) {
    if (n > current().maxItems) tooManyItems();
}

void RenderLimits::checkBytes(std::size_t a, std::size_t b) {
    if (a != 0 && b > current().maxBytes / a) tooManyBytes();
}

void RenderLimits::checkItems(std::size_t a, std::size_t b) {
    if (a != 0 && b > current().maxItems / a) tooManyItems();
}

void RenderLimits::checkValueSize(const Value& value) {
    if (!value.isArray() && !value.isObject()) return;
    std::size_t budget = current().maxItems;
    if (exceedsItems(value, budget)) tooManyItems();
}

void RenderLimits::checkPrintedSize(const Value& value, std::size_t currentSize) {
    std::size_t max = current().maxBytes;
    std::size_t budget = max - std::min(max, currentSize);
    if (printedExceeds(value, budget)) tooManyBytes();
}

void RenderLimits::appendPrinted(std::string& out, const Value& value) {
    if (value.isString()) {
        checkAppend(out.size(), value.asString().size());
        out += value.asString();
        return;
    }
    if (value.isArray() || value.isObject()) checkPrintedSize(value, out.size());
    value.appendDescription(out);
    checkBytes(out.size());
}

} // namespace jinja
