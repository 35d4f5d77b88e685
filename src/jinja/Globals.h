#pragma once

#include "jinja/Value.h"

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
