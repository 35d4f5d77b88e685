#pragma once

#include "jinja/Value.h"

#include <string_view>

namespace jinja {

// The built-in tests of `is` expressions. Each binds its inputs (the tested
// value first) and answers a Boolean.
class Tests {
public:
    Tests() = delete;

    using TestFunction = bool (*)(const Array& args, const KeywordArguments& kwargs,
                                  const std::shared_ptr<Environment>& env);

    // The test of that name, or null. The table is built once.
    static TestFunction find(std::string_view name);
    // Name and function of each test, in table order.
    static const std::vector<std::pair<std::string_view, TestFunction>>& builtIn();
};

} // namespace jinja
