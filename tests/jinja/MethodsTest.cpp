#include "RenderSupport.h"

namespace jinja {
namespace {

using testing::expectCases;

TEST(MethodsTest, StringMethods) {
    expectCases({
        {"{{ 'aBc'.upper() }}{{ 'aBc'.lower() }}{{ 'hello wORLD'.title() }}{{ 'ab'.upper(1) }}", "",
         "ABCabcHello WorldAB"},
        {"{{ 'ab'.upper(x=1) }}", "", "error: Unexpected keyword argument 'x' for filter."},
        {"[{{ s.strip() }}][{{ 'xxaxx'.strip('x') }}][{{ 'xxaxx'.lstrip('x') }}][{{ "
         "'xxaxx'.rstrip('x') }}][{{ 'ab'.strip('') }}]",
         "{\"s\": \" \\t a b \\t\"}", "[a b][a][axx][xxa][ab]"},
        {"{{ 'a'.strip(1) }}", "", "error: strip() chars argument must be a string or null"},
        {"{{ 'a'.rstrip(1) }}", "", "error: rstrip() chars argument must be a string or null"},
        {"{{ 'a'.strip('a', 'b') }}", "", "error: strip() takes at most 1 argument (2 given)"},
        {"{{ 'a'.lstrip('a', 'b', 'c') }}", "",
         "error: lstrip() takes at most 1 argument (3 given)"},
        {"{{ ' a  b '.split() }}|{{ s.split() }}|{{ 'a,b,c'.split(',', 1) }}|{{ 'a,b'.split(',', "
         "0) }}|{{ 'a b c'.split(none, 1) }}|"
         "{{ 'a,,b'.split(',') }}|{{ 'ab'.split('') }}",
         "{\"s\": \"a\\tb\"}",
         "['a', 'b']|['a\tb']|['a', 'b,c']|['a,b']|['a', 'b', 'c']|['a', '', 'b']|['ab']"},
        {"{{ 'aaa'.replace('a', 'ba', 2) }}|{{ 'aaa'.replace('a', 'ba') }}|{{ 'abc'.replace('', "
         "'-') }}|{{ 'abc'.replace('', '-', 2) }}|"
         "{{ 'abc'.replace('', '-', 0) }}|{{ ''.replace('', '-') }}",
         "", "babaa|bababa|-a-b-c-|-a-bc|abc|-"},
        {"{{ 'a'.replace(1, 'x') }}", "",
         "error: replace() requires 'old' and 'new' string arguments"},
        {"{{ 'a'.replace('a') }}", "", "error: Missing required argument 'new' for filter."},
        {"{{ 'abc'.startswith('') }}{{ 'abc'.startswith('ab') }}{{ 'abc'.endswith('bc') }}{{ "
         "'abc'.endswith('a') }}",
         "", "truetruetruefalse"},
        {"{{ s.startswith('e') }}{{ s.startswith(t) }}",
         "{\"s\": \"e\\u0301x\", \"t\": \"\\u00e9\"}", "falsetrue"},
        {"{{ 'a'.startswith(['a']) }}", "", "error: startswith() requires a string prefix"},
        {"{{ 'a'.endswith(1) }}", "", "error: endswith() requires a string suffix"},
        {"{{ 'a'.nosuch }}|{{ 'a'.nosuch is defined }}", "", "|false"},
        {"{{ 'a'.nosuch() }}", "", "error: Cannot call non-function value"},
    });
}

TEST(MethodsTest, ObjectMethodsAndOtherReceivers) {
    expectCases({
        {"{{ {'a': 1}.items() }}|{{ {1: 'x', 'b': 2}.keys() }}|{{ {'a': 1, 'b': [2]}.values() }}",
         "", "[['a', 1]]|[1, 'b']|[1, [2]]"},
        {"{{ d.get('a') }}|{{ d.get('zz') is none }}|{{ d.get('zz', 5) }}|{{ d.get(1.0, 'dflt') "
         "}}|{{ d.get(1) }}",
         R"({"d": {"a": 1, "1": 2}})", "1|true|5|dflt|"},
        {"{{ d.keys }}|{{ d['keys'] }}", R"({"d": {"keys": 7}})", "[Function]|7"},
        {"{{ {'a': 1}.get() }}", "", "error: Missing required argument 'key' for filter."},
        {"{{ (5).x is defined }}{{ true.x is defined }}{{ [1].x is defined }}{{ none.x is defined "
         "}}{{ {}.x is defined }}",
         "", "falsefalsefalsefalsefalse"},
        {"{% for k, v in {'a': 1, 'b': 2}.items() %}{{ k }}{{ v }}{% endfor %}", "", "a1b2"},
        // A method holds the receiver as it was when looked up.
        {"{% set d = {'a': 1} %}{% set f = d.keys %}{% set d.b = 2 %}{{ f() }}{{ d.keys() }}", "",
         "['a']['a', 'b']"},
    });
}

} // namespace
} // namespace jinja
