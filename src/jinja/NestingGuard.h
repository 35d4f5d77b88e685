#pragma once

#include "jinja/JinjaError.h"
#include "jinja/Value.h"

#include <cstddef>

namespace jinja {

// Counts the nesting of a recursive walk over a value on this thread and
// fails once it passes Value::maxNestingDepth, before the stack runs out.
class NestingGuard {
public:
    NestingGuard() {
        if (++depth() > Value::maxNestingDepth) {
            --depth();
            throw JinjaError::runtime("Value nesting is too deep (more than " +
                                      std::to_string(Value::maxNestingDepth) + " levels)");
        }
    }
    ~NestingGuard() { --depth(); }
    NestingGuard(const NestingGuard&) = delete;
    NestingGuard& operator=(const NestingGuard&) = delete;

private:
    static std::size_t& depth() noexcept {
        thread_local std::size_t current = 0;
        return current;
    }
};

} // namespace jinja
