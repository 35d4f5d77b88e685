#include "RenderSupport.h"
#include "jinja/Tests.h"

namespace jinja {
namespace {

using testing::expectCases;

TEST(BuiltinTestsTest, RegistryHasEveryTestAndItsAliases) {
    EXPECT_EQ(Tests::builtIn().size(), 39u);
    EXPECT_EQ(Tests::find("=="), Tests::find("eq"));
    EXPECT_EQ(Tests::find("equalto"), Tests::find("eq"));
    EXPECT_EQ(Tests::find("greaterthan"), Tests::find(">"));
    EXPECT_EQ(Tests::find("<="), Tests::find("le"));
    EXPECT_EQ(Tests::find("nosuch"), nullptr);
}

TEST(BuiltinTestsTest, KindsAndValues) {
    expectCases({
        {"{{ none is defined }}{{ x is defined }}{{ x is undefined }}{{ none is none }}{{ x is "
         "none }}",
         "", "truefalsetruetruefalse"},
        {"{{ true is number }}{{ 1 is number }}{{ 1.5 is number }}{{ 1.0 is integer }}{{ 1 is "
         "float }}{{ 1.0 is float }}",
         "", "falsetruetruefalsefalsetrue"},
        {"{{ 4.0 is even }}{{ 4.5 is even }}{{ 4.5 is odd }}{{ -3 is odd }}{{ -3.0 is odd }}{{ -4 "
         "is even }}{{ 'a' is odd }}",
         "", "truefalsefalsetruetruetruefalse"},
        {"{{ 10 is divisibleby(0) }}{{ 10 is divisibleby(2.5) }}{{ '10' is divisibleby(2) }}{{ 7.5 "
         "is divisibleby 2.5 }}"
         "{{ (-9223372036854775807 - 1) is divisibleby(-1) }}{{ 9 is divisibleby 2 }}",
         "", "falsetruefalsetruetruefalse"},
        {"{{ 10 is divisibleby }}", "", "error: Missing required argument 'divisor' for filter."},
        {"{{ '123' is lower }}{{ '123' is upper }}{{ '' is lower }}{{ 'aB' is lower }}{{ 'AB' is "
         "upper }}{{ 5 is lower }}",
         "", "truetruetruefalsetruefalse"},
        {"{{ {'a': 1} is iterable }}{{ {'a': 1} is sequence }}{{ 'ab' is sequence }}{{ none is "
         "iterable }}{{ {} is mapping }}",
         "", "truefalsetruefalsetrue"},
        {"{{ 1 is true }}{{ true is true }}{{ 0 is false }}{{ false is false }}{{ 'x' is string "
         "}}{{ false is boolean }}",
         "", "falsetruefalsetruetruetrue"},
        {"{{ range is callable }}{{ m is callable }}{{ 'x' is escaped }}", "", "truefalsefalse"},
        {"{% macro m() %}{% endmacro %}{{ m is callable }}{{ ['m', 'upper', 5, 'range'] | "
         "select('filter') | list }}",
         "", "true['upper']"},
        {"{{ 'even' is test }}{{ 'upper' is test }}{{ 5 is test }}", "", "truetruefalse"},
    });
}

TEST(BuiltinTestsTest, ComparisonsAndContainment) {
    expectCases({
        {"{{ 1 is sameas(1.0) }}{{ 'a' is sameas 'a' }}", "", "truetrue"},
        {"{{ true is sameas(true) }}", "",
         "error: Cannot compare values of different types (true and true)"},
        {"{{ none is sameas(none) }}", "",
         "error: Cannot compare values of different types ( and )"},
        {"{{ 1 is gt('a') }}{{ 2 is gt 1 }}{{ 2 is ge 2 }}{{ 1 is lt 2 }}{{ 3 is le 2 }}{{ 1 is eq "
         "1.0 }}{{ 1 is ne 1 }}",
         "", "falsetruetruetruefalsetruefalse"},
        {"{{ [1, 2, 3] | select('>', 1) | list }}{{ [1, 2] | select('==', 2) | list }}{{ [1, 2] | "
         "select('!=', 2) | list }}"
         "{{ [1, 2, 3] | select('lessthan', 3) | list }}{{ [1, 2, 3] | select('<=', 2) | list }}{{ "
         "[1, 2] | select('>=', 2) | list }}",
         "", "[2, 3][2][1][1, 2][1, 2][2]"},
        {"{{ ['ab', 'b'] | select('in', 'abc') | list }}{{ [1, 3] | select('in', [1.0, 2]) | list "
         "}}",
         "", "['ab', 'b'][1]"},
        {"{{ [1, 1.0] | select('in', {1: 'x'}) | list }}{{ [5] | select('in', 5) | list }}", "",
         "[1][]"},
        {"{{ ['s'] | select('in', ['s', 1]) | list }}", "", "['s']"},
        {"{{ ['s'] | select('in', [1, 's']) | list }}", "",
         "error: Cannot compare values of different types (1 and s)"},
        {"{{ [1] | select('in') | list }}", "",
         "error: Missing required argument 'container' for filter."},
    });
}

TEST(BuiltinTestsTest, ScopeFunctionsActAsTests) {
    Environment::Variables vars;
    vars.emplace("big", testing::hostFunction(
                            [](const Array& args) { return Value(args[0].asInt() > 10 ? 1 : 0); }));
    EXPECT_EQ(testing::render("{{ 11 is big }}{{ 5 is big }}{{ 5 is not big }}", vars),
              "truefalsetrue");
}

} // namespace
} // namespace jinja
