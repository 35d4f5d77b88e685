#pragma once

#include "jinja/Value.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace jinja {

struct RenderLimits;

namespace render {
// The limits of the render running on this thread, or null (RenderState.cpp).
extern constinit thread_local const RenderLimits* activeLimits;
} // namespace render

// Bounds of one render, so that a hostile template ends with a JinjaError
// instead of exhausting memory, the stack or time. The defaults are far above
// what any real chat template needs.
struct RenderLimits {
    // Largest output, and largest string any expression or built-in may build.
    std::size_t maxBytes = std::size_t{64} << 20;
    // Most elements of any array or object a built-in or literal may build.
    std::size_t maxItems = std::size_t{1} << 22;
    // Deepest nesting of macro calls, caller calls and statement bodies.
    std::size_t maxDepth = 200;
    // Most steps of one render: every loop iteration and macro call is a
    // step, and so is building or scanning each KiB of text or each 16
    // elements, so quadratic work ends long before it could hang.
    std::uint64_t maxSteps = 20'000'000;
    // Longest wall-clock time of one render, checked as steps are counted
    // (to a few milliseconds): a step may be slow (a large copy, a page
    // fault), so counting steps alone does not bound the time.
    std::chrono::milliseconds maxDuration{1000};

    // The limits of the render running on this thread, or the defaults when
    // none is running (a built-in called directly by a host).
    static const RenderLimits& current() noexcept {
        const RenderLimits* active = render::activeLimits;
        return active ? *active : defaults();
    }
    static const RenderLimits& defaults() noexcept;

    // Throw JinjaError (runtime) when a string of n bytes or a collection of n
    // items would exceed the current limits.
    static void checkBytes(std::size_t n);
    static void checkItems(std::size_t n);
    // Both checks for a product a * b (sizes of repetitions), overflow-safe.
    static void checkBytes(std::size_t a, std::size_t b);
    static void checkItems(std::size_t a, std::size_t b);
    // Throws when appending `added` bytes to a text of `current` bytes would exceed the limit.
    static void checkAppend(std::size_t currentSize, std::size_t added) {
        checkAppend(currentSize, added, current().maxBytes);
    }
    // The same with the byte limit read beforehand (for loops of appends).
    static void checkAppend(std::size_t currentSize, std::size_t added, std::size_t max) {
        if (currentSize > max || added > max - currentSize) tooManyBytes();
    }
    // Throws when a value with everything nested in it holds more than maxItems
    // elements; shared parts count each time they occur, so values built by
    // repeated doubling are refused before walking them could take exponential time.
    static void checkValueSize(const Value& value);
    // Throws when the printed form of a value, appended to `current` bytes,
    // could exceed the byte limit; stops walking as soon as it knows.
    static void checkPrintedSize(const Value& value, std::size_t current);
    // Counts steps against maxSteps; throws JinjaError (runtime) past it, or
    // past maxDuration.
    static void chargeSteps(std::uint64_t steps);
    // The steps of building or scanning a value: its text or its top-level
    // elements (none below a KiB or 16 elements, the common case).
    static void chargeValue(const Value& value) {
        if (value.isString())
            chargeValueSize(value.asString().size(), true);
        else if (value.isArray())
            chargeValueSize(value.asArray().size(), false);
        else if (value.isObject())
            chargeValueSize(value.asObject().size(), false);
    }
    static void chargeValueSize(std::size_t bytesOrItems, bool text) {
        const std::uint64_t steps = text ? bytesOrItems / 1024 : bytesOrItems / 16;
        if (steps) chargeSteps(steps);
    }
    // Appends the printed form of a value within the byte limit.
    static void appendPrinted(std::string& out, const Value& value);

    [[noreturn]] static void tooManyBytes();
};

} // namespace jinja
