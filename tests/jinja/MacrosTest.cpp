#include "RenderSupport.h"

namespace jinja {
namespace {

using testing::expectCases;

TEST(MacrosTest, ArgumentsDefaultsAndScope) {
    const std::string m = "{% macro m(a, b='B') %}{{ a }}{{ b }}{{ c }}{% endmacro %}";
    expectCases({
        {(m + "{{ m(1) }}").c_str(), "", "1B"},
        {(m + "{{ m(1, 2, 3) }}").c_str(), "", "12"},
        {(m + "{{ m(1, c=3) }}").c_str(), "", "1B3"},
        {(m + "{{ m() }}").c_str(), R"({"a": "X"})", "XB"},
        {(m + "{{ m(b=2, a=1) }}").c_str(), "", "12"},
        {(m + "{{ m }}").c_str(), "", "[Macro m]"},
        {"{% macro m() %}{{ v }}{% endmacro %}{% for v in [7] %}{{ m() }}{% endfor %}", "", "7"},
        // Defaults are evaluated at the call site, every time.
        {"{% macro m(x=y * 2) %}{{ x }}{% endmacro %}{% set y = 3 %}{{ m() }}{{ m(1) }}", "", "61"},
        {"{% macro m(x=nosuch()) %}{% endmacro %}{{ m(1) }}", "",
         "error: Cannot call non-function value"},
        // A macro body's own assignments stay in its scope.
        {"{% macro m() %}{% set z = 1 %}{{ z }}{% endmacro %}{{ m() }}{{ z }}", "", "1"},
        {"{% for i in [1] %}{% macro inner() %}in{% endmacro %}{% endfor %}{{ inner is defined }}",
         "", "false"},
        {"{% macro m(a, b=1, c) %}{{ a }}{{ b }}{{ c }}{% endmacro %}{{ m(1) }}|{{ m(1, 2, 3) }}",
         "", "11|123"},
        {"{% macro m(x) %}{{ x | upper }}{% endmacro %}{{ ['a', 'b'] | map('upper') | join }}{{ "
         "m('c') }}",
         "", "ABC"},
    });
}

TEST(MacrosTest, CallBlocks) {
    expectCases({
        {"{% macro list(items) %}{% for i in items %}[{{ caller(i) }}]{% endfor %}{% endmacro %}"
         "{% call(x) list([1, 2]) %}<{{ x }}>{% endcall %}",
         "", "[<1>][<2>]"},
        {"{% macro wrap() %}({{ caller() }}){% endmacro %}{% call wrap() %}body{% endcall %}", "",
         "(body)"},
        {"{% macro wrap() %}-{% endmacro %}{% call wrap() %}body{% endcall %}", "", "-"},
        {"{% call m() %}body{% endcall %}", "", "error: Cannot call non-function value"},
        // The body sees the variables around the block, not the macro's.
        {"{% macro m() %}{% set v = 'macro' %}{{ caller() }}{% endmacro %}{% set v = 'outer' %}{% "
         "call m() %}{{ v }}{% endcall %}",
         "", "outer"},
        {"{% macro m() %}{{ caller(1, 2) }}{% endmacro %}{% call(a) m() %}{{ a }}{{ b }}{% endcall "
         "%}",
         R"({"b": "B"})", "1B"},
        {"{% macro m() %}{{ caller(1) }}{% endmacro %}{% call('a') m() %}x{% endcall %}", "",
         "error: Caller parameter must be an identifier"},
        {"{% macro m() %}{{ caller(1) }}{% endmacro %}{% call m() %}x{% endcall %}", "", "x"},
        // Nested call blocks: the inner caller renders within the outer one.
        {"{% macro outer() %}<{{ caller() }}>{% endmacro %}{% macro inner() %}[{{ caller() }}]{% "
         "endmacro %}"
         "{% call outer() %}{% call inner() %}x{% endcall %}{% endcall %}",
         "", "<[x]>"},
        {"{% macro m(a, k=0) %}{{ a }}{{ k }}{{ caller() }}{% endmacro %}{% call m(1, k=2) %}!{% "
         "endcall %}",
         "", "12!"},
    });
}

} // namespace
} // namespace jinja
