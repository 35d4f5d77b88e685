#pragma once

#include "jinja/Value.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace jinja {

// The global functions every root scope holds: raise_exception, range,
// lipsum, dict, cycler, joiner, namespace and strftime_now.
class Globals {
public:
    Globals() = delete;

    // Name and function value of each global, in table order. Built once.
    static const std::vector<std::pair<std::string, Value>>& builtIn();

    static Value raiseException(const Array& args, const KeywordArguments& kwargs,
                                const std::shared_ptr<Environment>& env);
    static Value range(const Array& args, const KeywordArguments& kwargs,
                       const std::shared_ptr<Environment>& env);
    // The numbers range(args) holds, without building them: start + k * step
    // for k below count. Fails as range() does.
    struct RangeBounds {
        std::int64_t start = 0;
        std::int64_t step = 1;
        std::size_t count = 0;
        // Exact: every element of a range is a 64-bit integer.
        std::int64_t at(std::size_t k) const noexcept {
            return static_cast<std::int64_t>(static_cast<__int128>(start) +
                                             static_cast<__int128>(k) * step);
        }
    };
    static RangeBounds rangeBounds(const Array& args);
    static Value lipsum(const Array& args, const KeywordArguments& kwargs,
                        const std::shared_ptr<Environment>& env);
    static Value dict(const Array& args, const KeywordArguments& kwargs,
                      const std::shared_ptr<Environment>& env);
    static Value cycler(const Array& args, const KeywordArguments& kwargs,
                        const std::shared_ptr<Environment>& env);
    static Value joiner(const Array& args, const KeywordArguments& kwargs,
                        const std::shared_ptr<Environment>& env);
    static Value strftimeNow(const Array& args, const KeywordArguments& kwargs,
                             const std::shared_ptr<Environment>& env);
};

} // namespace jinja
