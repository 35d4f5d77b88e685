#include "RenderSupport.h"

#include <chrono>
#include <limits>
#include <thread>

namespace jinja {
namespace {

using testing::Case;
using testing::expectCases;
using testing::outcome;

TEST(InterpreterTest, OperatorsAndLiterals) {
    expectCases({
        {"{{ 0 and 'x' }}|{{ 0 or 'x' }}|{{ '' or 0 }}|{{ none or 'd' }}", "", "0|x|0|d"},
        {"{{ false and f() }}{{ true or f() }}", "", "falsetrue"},
        {"{{ 'a' if false }}|{{ ('a' if false) is none }}|{{ ('a' if false) is defined }}", "",
         "|true|true"},
        {"{{ 1 + 2 }} {{ 1 + 2.0 }} {{ 'a' + 1 }} {{ 1 + 'a' }} {{ [1] + [2, 3] }}", "",
         "3 3.0 a1 1a [1, 2, 3]"},
        {"{{ 'a' ~ 1 ~ none ~ [1, 'b'] }}", "", "a1[1, 'b']"},
        // chains over a leading text: literals in a row, trimmed and other operands
        {"{{ 'a' + 'b' ~ x ~ 'c' + 'd' + ' e ' | trim ~ (1 + 2) ~ y.z ~ 'f' }}",
         R"({"x": 7, "y": {"z": [2]}})", "ab7cde3[2]f"},
        {"{{ 'a' ~ x ~ 'b' ~ 'c' ~ x ~ 'd' ~ x ~ 'e' ~ x ~ 'f' ~ x ~ 'g' ~ x ~ 'h' ~ x ~ 'i' ~ x ~ "
         "'j' ~ x ~ 'k' ~ x ~ 'l' ~ x ~ 'm' ~ x ~ 'n' ~ x ~ 'o' ~ x ~ 'p' ~ x ~ 'q' ~ x ~ 'r' ~ x "
         "~ "
         "'s' ~ x ~ 't' ~ x ~ 'u' ~ x ~ 'v' ~ x ~ 'w' ~ x ~ 'y' ~ x ~ 'z' }}",
         R"({"x": 0})", "a0bc0d0e0f0g0h0i0j0k0l0m0n0o0p0q0r0s0t0u0v0w0y0z"},
        {"{{ 'ab' * 3 }}|{{ 3 * 'ab' }}|{{ 7 // 2 }}|{{ -7 // 2 }}|{{ -7 % 3 }}|{{ 7 / 2 }}|{{ 2 "
         "** 10 }}",
         "", "ababab|ababab|3|-3|-1|3.5|1024"},
        {"{{ 1 == 1.0 }} {{ 'a' == 'a' }} {{ 'a' != 'b' }} {{ 1 == 'a' }} {{ x == 'a' }}", "",
         "true true true false false"},
        {"{{ 2 ** 3 ** 2 }} {{ -2 ** 2 }} {{ 'b' in 'abc' }} {{ 1 not in [1] }}", "",
         "64 4 true false"},
        // Texts equal ASCII literals by canonical equivalence (U+212A is K).
        {"{{ k == 'K' }} {{ k ~ 'a' == 'Ka' }} {{ k != 'K' }} {{ k in ['x', 'K'] }} {{ k not in "
         "['K'] }} {{ e == 'e' }} {{ e in ['e'] }} {{ 'ab' == 'abc' }}",
         R"({"k": "K", "e": "é"})", "true true false true false false false false"},
        {"{{ -(0.0) }} {{ not none }} {{ +3 }}", "", "-0.0 true 3"},
        {"{{ -'a' }}", "", "error: Cannot negate non-numeric value"},
        {"{{ +true }}", "", "error: Cannot apply unary plus to non-numeric value"},
        {"{{ [*x] }}", R"({"x": [1]})",
         "error: Unpacking operator can only be used in function calls"},
        {"{{ 5() }}", "", "error: Cannot call non-function value"},
        {"{{ true + 1 }}", "", "error: Cannot add values of different types (true and 1)"},
        {"{{ {'b': 1, 'a': [1, 'x']} }}", "", "{'b': 1, 'a': [1, 'x']}"},
        {"{{ (1, 2) }}{{ [] }}{{ {} }}", "", "[1, 2][]{}"},
    });
}

TEST(InterpreterTest, MembersIndexesAndSlices) {
    expectCases({
        {"{{ [1, 2, 3][-1] }}|{{ [1, 2, 3][3] }}|{{ [1, 2, 3][-4] }}", "", "3||"},
        {"{{ s[1] }}", "{\"s\": \"he\\u0301llo\"}", "e\u0301"},
        {"{{ {1: 'x'}[1] }}|{{ {1: 'x'}['1'] }}|{{ {'items': 1}['items'] }}|{{ {'items': 1}.items "
         "}}",
         "", "x||1|[Function]"},
        {"{{ [1, 2].length }}|{{ (5).x }}|{{ x.y.z }}|{{ d[1.0] }}", R"({"d": {"1": 2}})", "|||"},
        {"{{ m.role }}:{{ m['content'] }}:{{ ms[0].role }}:{{ ms[1]['role'] }}",
         R"({"m": {"role": "user", "content": "hi"}, "ms": [{"role": "a"}, {"role": "b"}]})",
         "user:hi:a:b"},
        {"{{ 'abc'[::-1] }}|{{ [1, 2, 3, 4][1:3] }}|{{ 'hello'[-3:] }}|{{ 'abc'[10:] }}|{{ "
         "'abc'[-10:2] }}",
         "", "cba|[2, 3]|llo||ab"},
        {"{{ [1, 2, 3][0:3:2] }}|{{ [1, 2, 3][none:2] }}|{{ [1, 2, 3][::-2] }}", "",
         "[1, 3]|[1, 2]|[3, 1]"},
        {"{{ [1, 2, 3, 4][-2:] }}|{{ [1, 2, 3][5:] }}|{{ [1, 2, 3][2:1] }}|{{ [1, 2, 3][-9:9] }}",
         "", "[3, 4]|[]|[]|[1, 2, 3]"},
        // One member read over objects whose keys stand at other positions.
        {"{% for m in ms %}{{ m.role }},{{ m['role'] }};{% endfor %}",
         R"({"ms": [{"role": "a"}, {"a": 1, "role": "b"}, {"rolf": 1}, {"aa": 1, "rolx": 2},)"
         R"( {"role": "c"}, 5]})",
         "a,a;b,b;,;,;c,c;,;"},
        {"{{ 'abc'[::0] }}", "", "error: Slice step cannot be zero"},
        {"{{ 5[1:2] }}", "", "error: Slice requires array or string"},
        {"{{ 5[::0] }}", "", "error: Slice step cannot be zero"},
        // Huge and extreme bounds are computed, never walked.
        {"{{ 'abc'[-9223372036854775807:9223372036854775807] }}|{{ 'abc'[::9223372036854775807] }}",
         "", "abc|a"},
        {"{{ [1, 2, 3][9223372036854775807::-1] }}|{{ 'abcdef'[-9223372036854775807::-3] }}", "",
         "[3, 2, 1]|"},
        {"{{ 'abcdef'[1::-9223372036854775807] }}|{{ 'abcdef'[5:-9223372036854775807:-2] }}", "",
         "b|fdb"},
    });
}

TEST(InterpreterTest, CallsFiltersAndTests) {
    expectCases({
        {"{{ f(*'ab') }}", "", "error: Cannot unpack non-array value"},
        {"{{ x | upper }}", R"({"x": "ab", "upper": "s"})", "AB"},
        {"{{ x | nosuch(y) }}", "", "error: Unknown filter: nosuch"},
        {"{{ x | nosuch(z()) }}", "", "error: Cannot call non-function value"},
        {"{{ x is nosuch }}", "", "error: Unknown test: nosuch"},
        {"{{ x is not defined }}", "", "true"},
    });
    // A function value in scope wins over the built-in filter of its name.
    Environment::Variables vars;
    vars.emplace("f", testing::hostFunction([](const Array& args) { return Value(args); }));
    vars.emplace("upper", testing::hostFunction([](const Array& args) {
                     return Value("custom:" + args[0].description());
                 }));
    EXPECT_EQ(testing::render("{{ 'ab' | upper }} {{ f(*[1, 2], 3) }} {{ f(*[]) }}", vars),
              "custom:ab [1, 2, 3] []");
}

TEST(InterpreterTest, Loops) {
    expectCases({
        {"{% for x in [] %}a{% else %}b{% endfor %}", "", "b"},
        {"{% for x in [1, 2] if x > 5 %}a{% else %}b{% endfor %}", "", ""},
        {"{% for x in [1, 2, 3] if x != 2 %}{{ loop.index }}/{{ loop.length }} {% endfor %}", "",
         "1/3 3/3 "},
        {"{% for x in 'ab' %}{{ loop.index0 }}{{ x }}{% endfor %}", "", "0a1b"},
        {"{% for x in s %}[{{ x }}]{% endfor %}", "{\"s\": \"e\\u0301\"}", "[e\u0301]"},
        {"{% for k in {'b': 1, 'a': 2} %}{{ k }}{% endfor %}", "", "ba"},
        {"{% for k, v in {'b': 1, 'a': 2} %}{{ k }}={{ v }};{% endfor %}", "", "b=1;a=2;"},
        {"{% for k in {'b': 1, 'a': 2} %}{{ loop.previtem }}{% endfor %}|"
         "{% for k, v in {'b': 1, 'a': 2} %}{{ loop.previtem }}{% endfor %}",
         "", "b|['b', 1]"},
        {"{% for a, b in [[1, 2], [3]] %}{{ a }}{{ b }},{% endfor %}", "", "12,3,"},
        {"{% for x in [1, 2, 3] %}{% if x == 2 %}{% break %}{% endif %}{{ x }}{% endfor %}", "",
         "1"},
        {"{% for x in [1, 2, 3] %}{% if x == 2 %}{% continue %}{% endif %}{{ x }}{% endfor %}", "",
         "13"},
        {"{% for x in 'abc' %}{% if x == 'b' %}{% break %}{% endif %}{{ x }}{% endfor %}", "", "a"},
        // Elif chains and branches that are a lone condition, with break and continue in them.
        {"{% for x in [1, 2, 3, 4, 5] %}{% if x == 1 %}a{% elif x == 2 %}{% if true %}b{% endif "
         "%}{% elif x == 3 %}{% continue %}{% elif x == 4 %}d{% else %}{% if x > 4 %}{% break %}{% "
         "endif %}{% endif %}{{ x }};{% endfor %}",
         "", "a1;b2;d4;"},
        {"{% for k in {'a': 1, 'b': 2, 'c': 3} %}{% if k == 'b' %}{% continue %}{% endif %}{{ k "
         "}}{% endfor %}",
         "", "ac"},
        {"{% for x in 5 %}{% endfor %}", "", "error: Cannot iterate over non-iterable value"},
        {"{% for x in none %}{% endfor %}", "", "error: Cannot iterate over non-iterable value"},
        {"{% for x in y %}{% endfor %}", "", "error: Cannot iterate over non-iterable value"},
        {"{% for x in [1, 2, 3, 4, 5] %}{{ loop.cycle('odd', 'even') }} {% endfor %}", "",
         "odd even odd even odd "},
        {"{% for x in [1] %}[{{ loop.cycle() }}]{{ loop.previtem is defined }}{{ loop.nextitem is "
         "defined }}{% endfor %}",
         "", "[]falsefalse"},
        {"{% for x in [1, 2] %}{{ loop.first }}{{ loop.last }}{{ loop.revindex }}{{ loop.revindex0 "
         "}}{{ loop.nextitem }} {% endfor %}",
         "", "truefalse212 falsetrue10 "},
        {"{% for x in [1] %}{% set y = 5 %}{% endfor %}{{ y }}", "", ""},
        {"{% if true %}{% set y = 5 %}{% endif %}{{ y }}", "", "5"},
        {"{% for x in [1, 2] %}{% for y in 'ab' %}{{ x }}{{ y }}{% if y == 'a' %}{% break %}{% "
         "endif %}{% endfor %}{% endfor %}",
         "", "1a2a"},
        // A loop object kept past its iteration keeps its own values.
        {"{% set ns = namespace(l=none) %}{% for x in [1, 2, 3] %}{% if loop.first %}{% set ns.l = "
         "loop %}{% set ns.c = loop.cycle %}"
         "{% endif %}{% endfor %}{{ ns.l.index }}{{ ns.l.nextitem }}{{ ns.c('a', 'b') }}",
         "", "12a"},
        {"{% for x in [1, 2] %}{% set loop = 5 %}{{ loop }}{% endfor %}", "", "55"},
        // The item list is fixed before the first iteration.
        {"{% set xs = [1, 2] %}{% for x in xs %}{% set xs = [] %}{{ x }}{% endfor %}", "", "12"},
    });
}

TEST(InterpreterTest, LoopVariablesKeepTheirMeaning) {
    expectCases({
        // The loop object seen from an assignment, a member assignment, a
        // loop variable named loop and a caller that outlives the loop.
        {"{% for i in [1, 2] %}{{ loop.index }}{% set loop = 'x' %}{{ loop }}{% endfor %}", "",
         "1x2x"},
        {"{% for i in [1, 2] %}{% set loop.extra = i %}{{ loop.index }}{{ loop.extra }}{% endfor "
         "%}",
         "", "1122"},
        {"{% for loop in [5, 6] %}{{ loop.index }}{% endfor %}", "", "12"},
        {"{% set ns = namespace() %}{% macro keep() %}{% set ns.c = caller %}{% endmacro %}"
         "{% for i in [1, 2, 3] %}{% call keep() %}{{ loop.index }}{% endcall %}{% endfor %}"
         "{{ ns.c() }}",
         "", "3"},
        {"{% for i in [1, 2, 3] %}{{ loop.cycle('a', 'b') }}{{ loop.cycle('c', 'd', 'e') }}{% "
         "endfor %}",
         "", "acbdae"},
        // Built-in range is walked without building the list.
        {"{% for i in range(3) %}{{ loop.previtem }}<{{ i }}>{{ loop.nextitem }};{% endfor %}", "",
         "<0>1;0<1>2;1<2>;"},
        {"{% for i in range(10, 0, -4) %}{{ i }}/{{ loop.length }} {% endfor %}", "",
         "10/3 6/3 2/3 "},
        {"{% for i in range(0) %}a{% else %}b{% endfor %}", "", "b"},
        {"{% for a, b in range(2) %}[{{ a }}]{% endfor %}", "", "[][]"},
        {"{% for i in range('a') %}{% endfor %}", "",
         "error: range() stop argument must be an integer"},
        {"{% for i in range(1, 5, 0) %}{% endfor %}", "",
         "error: range() step argument must not be zero"},
        {"{% for i in range(5000000) %}{% endfor %}", "",
         "error: Value exceeds the size limit of 4194304 items"},
        // A template's own range is called like any other.
        {"{% macro range(n) %}ab{% endmacro %}{% for c in range(3) %}{{ c }},{% endfor %}", "",
         "a,b,"},
    });
}

TEST(InterpreterTest, PrintedFiltersPrintTheirValues) {
    expectCases({
        {"{{ '  a \\n' | trim }}|{{ 'x' ~ ' b ' | trim ~ 'y' }}|{{ 5 | trim }}|{{ none | trim }}|"
         "{{ ' \u3000c\u3000' | trim }}",
         "", "a|xby|||c"},
    });
    Environment::Variables vars;
    vars.emplace("trim", testing::hostFunction([](const Array& args) {
                     return Value("<" + args[0].description() + ">");
                 }));
    EXPECT_EQ(testing::render("{{ ' a ' | trim }}{{ 'x' ~ 5 | trim }}", vars), "< a >x<5>");
}

TEST(InterpreterTest, FunctionsBoundInTheTemplateReplaceFiltersAndTests) {
    Environment::Variables vars;
    vars.emplace("f", testing::hostFunction([](const Array& args) {
                     return Value("<" + args[0].description() + ">");
                 }));
    const std::pair<const char*, const char*> cases[] = {
        {"{% set trim = f %}{{ ' a ' | trim }}", "< a >"},
        {"{% for trim in [1, f] %}{{ ' a ' | trim }}{% endfor %}{{ ' b ' | trim }}", "a< a >b"},
        {"{% macro m(trim) %}{{ ' a ' | trim }}{% endmacro %}{{ m(f) }}{{ m(1) }}", "< a >a"},
        {"{{ x is defined }}{% set defined = f %}{{ x is defined }}", "falsetrue"},
        {"{% set trim = 5 %}{{ ' a ' | trim }}{% set ns = namespace(trim=f) %}{{ ' b ' | trim }}",
         "ab"},
        // Global functions serve as filters and tests too.
        {"{{ 3 | range }}{{ 2 is range }}", "[0, 1, 2]true"},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(testing::render(text, vars), expected) << text;
}

TEST(InterpreterTest, AppendingToAStringKeepsCopiesApart) {
    expectCases({
        {"{% set s = 'ab' %}{% set t = s %}{% set s = s ~ 'c' %}{% set s = s + 'd' %}{{ s }} {{ t "
         "}}",
         "", "abcd ab"},
        {"{% set s = 'ab' %}{% set s = s ~ s ~ 1 %}{{ s }}", "", "abab1"},
        {"{% set ns = namespace(s='x') %}{% set keep = ns.s %}{% for i in range(3) %}{% set ns.s "
         "= ns.s ~ i %}{% endfor %}{{ ns.s }} {{ keep }}",
         "", "x012 x"},
        {"{% set ns = namespace(s='a') %}{% set other = ns %}{% set ns.s = ns.s ~ 'b' %}{{ ns.s "
         "}} {{ other.s }}",
         "", "ab a"},
        // The right side changes the target while it runs: the left value read first counts.
        {"{% set ns = namespace(s='a') %}{% macro m() %}{% set ns.s = 'z' %}b{% endmacro %}"
         "{% set ns.s = ns.s ~ m() %}{{ ns.s }}",
         "", "ab"},
        {"{% set s = 'a' %}{% for i in range(3) %}{% set s = s ~ i %}{{ s }},{% endfor %}{{ s }}",
         "", "a0,a01,a012,a"},
        {"{% set s = 1 %}{% set s = s + 2 %}{{ s }}", "", "3"},
    });
    // A text appended where the string is keeps to the size limit.
    RenderLimits limits;
    limits.maxBytes = 1000;
    const char* const appending = "{% set s = '' %}{% for i in range(2000) %}{% set s = s ~ 'x' %}"
                                  "{% if loop.last %}{{ s | length }}{% endif %}{% endfor %}";
    EXPECT_EQ(outcome(appending, "", limits),
              "error: Rendering exceeds the size limit of 1000 bytes");
    limits.maxBytes = 2000;
    EXPECT_EQ(outcome(appending, "", limits), "2000");
}

TEST(InterpreterTest, RendersEndWithinTheirTime) {
    RenderLimits limits;
    limits.maxDuration = std::chrono::milliseconds(1);
    limits.maxSteps = std::numeric_limits<std::uint64_t>::max();
    limits.maxItems = std::numeric_limits<std::size_t>::max();
    EXPECT_EQ(outcome("{% for i in range(1000000000000) %}{% endfor %}", "", limits),
              "error: Rendering exceeds the time limit of 1 ms");
    limits.maxDuration = std::chrono::milliseconds::max(); // no deadline at all
    EXPECT_EQ(outcome("{% for i in range(100000) %}{% endfor %}done", "", limits), "done");
    // Appending in a long loop costs the steps of the strings it builds, and
    // ends by them long before copying could make it slow.
    EXPECT_EQ(outcome("{% set s = '' %}{% for i in range(3000000) %}{% set s = s + 'x' %}{% "
                      "endfor %}{{ s | length }}"),
              "error: Rendering exceeds the limit of 20000000 steps");
}

TEST(InterpreterTest, Assignment) {
    expectCases({
        {"{% set ns = namespace(n=0) %}{% for x in [1, 2, 3] %}{% set ns.n = ns.n + x %}{% endfor "
         "%}{{ ns.n }}",
         "", "6"},
        {"{% set d = {} %}{% set d['k'] = 1 %}{% set d[2] = 'two' %}{{ d.k }}{{ d }}", "",
         "1{'k': 1, 2: two}"},
        {"{% set a = [1] %}{% set a[0] = 2 %}{{ a }}", "", "[1]"},
        {"{% set d = {} %}{% set d[1.5] = 1 %}", "",
         "error: Computed property key must be a string or integer"},
        {"{% set a, b = [1, 2] %}{{ b }}{{ a }}", "", "21"},
        {"{% set a, b = [1] %}", "", "error: Tuple assignment mismatch: 2 variables and 1 values."},
        {"{% set a, b = 5 %}", "", "error: Cannot unpack non-array value for tuple assignment."},
        {"{% set x %}hi {{ 1 + 1 }}{% endset %}[{{ x }}]", "", "[hi 2]"},
        {"{% set 'a' = 1 %}", "", "error: Invalid target for assignment: string(\"a\")"},
        {"{% set a.b.c = 1 %}{{ a }}", R"({"a": {"b": {}}})", "{'b': {}}"},
        // Member assignment through a copy leaves the original untouched.
        {"{% set a = {'k': 1} %}{% set b = a %}{% set b.k = 2 %}{{ a.k }}{{ b.k }}", "", "12"},
        {"{% filter upper %}ab{{ 1 }}{% endfilter %}", "", "AB1"},
        {"{% filter x | truncate(5) %}abcdefghijklmnop{% endfilter %}", "", "abcde..."},
        {"{% filter x | truncate(3, true, '!', 0) %}abcdefgh{% endfilter %}", "", "abc!"},
        {"{% filter truncate(5) %}body{% endfilter %}", "",
         "error: Invalid filter expression in filter statement"},
        {"{% filter nosuch %}body{% endfilter %}", "", "error: Unknown filter: nosuch"},
        {"a{% generation %}b{{ 1 }}{% endgeneration %}c", "", "ab1c"},
    });
}

TEST(InterpreterTest, BreakOrContinueOutsideALoopIsAnError) {
    expectCases({
        {"a{% break %}b", "", "error: 'break' outside of a loop"},
        {"{% if true %}{% continue %}{% endif %}", "", "error: 'continue' outside of a loop"},
        {"{% macro m() %}{% break %}{% endmacro %}{{ m() }}", "",
         "error: 'break' outside of a loop"},
        {"{% set x %}{% continue %}{% endset %}", "", "error: 'continue' outside of a loop"},
        // A break in a macro ends the loop that is running the call.
        {"{% macro m(x) %}{% if x == 2 %}{% break %}{% endif %}{{ x }}{% endmacro %}"
         "{% for x in [1, 2, 3] %}{{ m(x) }}{% endfor %}",
         "", "1"},
    });
}

TEST(InterpreterTest, HostileTemplatesEndWithinTheirLimits) {
    RenderLimits small;
    small.maxBytes = 1 << 16;
    small.maxItems = 1 << 12;
    small.maxSteps = 100000;
    auto failsWith = [&](const char* text, const char* message) {
        EXPECT_EQ(outcome(text, "", small), std::string("error: ") + message) << text;
    };
    failsWith("{% macro f(n) %}{{ f(n + 1) }}{% endmacro %}{{ f(0) }}",
              "Maximum recursion depth exceeded");
    failsWith("{% macro f() %}{% call f() %}x{% endcall %}{% endmacro %}{{ f() }}",
              "Maximum recursion depth exceeded");
    failsWith("{{ range(100000000) | length }}", "Value exceeds the size limit of 4096 items");
    failsWith("{{ 'ab' * 9223372036854775807 }}",
              "Rendering exceeds the size limit of 65536 bytes");
    failsWith(
        "{% set s = 'ab' %}{% for i in range(40) %}{% set s = s ~ s %}{% endfor %}{{ s | length }}",
        "Rendering exceeds the size limit of 65536 bytes");
    failsWith("{% set ns = namespace(a=[1]) %}{% for i in range(60) %}{% set ns.a = [ns.a, ns.a] "
              "%}{% endfor %}"
              "{{ ns.a == ns.a }}",
              "Value exceeds the size limit of 4096 items");
    failsWith("{% for i in range(1000) %}{% for j in range(1000) %}{% endfor %}{% endfor %}",
              "Rendering exceeds the limit of 100000 steps");
    failsWith("{% for i in range(1000) %}{{ 'x' * 100 }}{% endfor %}",
              "Rendering exceeds the size limit of 65536 bytes");
    // Quadratic work is counted by what it builds and scans, not only by iterations.
    RenderLimits roomy = small;
    roomy.maxBytes = std::size_t{1} << 26;
    roomy.maxSteps = 20000;
    roomy.maxItems = std::size_t{1} << 20;
    auto roomyOutcome = [&](const char* text) { return outcome(text, "", roomy); };
    EXPECT_EQ(roomyOutcome("{% set ns = namespace(s='') %}{% for i in range(15000) %}{% set ns.s = "
                           "ns.s ~ 'xxxxxxxxxx' %}{% endfor %}"),
              "error: Rendering exceeds the limit of 20000 steps");
    EXPECT_EQ(
        roomyOutcome(
            "{% set s = 'x' * 60000000 %}{% for i in range(10000) %}{{ s | length }}{% endfor %}"),
        "error: Rendering exceeds the limit of 20000 steps");
    failsWith("{{ 'x' | center(9223372036854775807) }}",
              "Rendering exceeds the size limit of 65536 bytes");
    failsWith("{{ [1] | batch(9223372036854775807) }}",
              "Value exceeds the size limit of 4096 items");
    failsWith("{{ [1] | slice(9223372036854775807) }}",
              "Value exceeds the size limit of 4096 items");
    failsWith("{{ 'a\nb' | indent(9223372036854775807) }}",
              "Rendering exceeds the size limit of 65536 bytes");
    failsWith("{{ lipsum(1000000) }}", "Rendering exceeds the size limit of 65536 bytes");
    failsWith("{{ 'abc' | replace('', 'x' * 30000) }}",
              "Rendering exceeds the size limit of 65536 bytes");
    failsWith("{{ 'abc' | wordwrap(0) }}", "wordwrap width must be at least 1");
    failsWith("{{ ('x' * 5000) | list | length }}", "Value exceeds the size limit of 4096 items");
    failsWith("{% for c in 'x' * 5000 %}{% endfor %}",
              "Value exceeds the size limit of 4096 items");
    failsWith("{{ lipsum(1, false, 1, 9223372036854775807) }}",
              "Rendering exceeds the size limit of 65536 bytes");
    failsWith("{% set ns = namespace(a=1) %}{% for i in range(3000) %}{% set ns.a = [ns.a] %}{% "
              "endfor %}{{ ns.a }}",
              "Value nesting is too deep (more than 1000 levels)");
    for (const char* overflow :
         {"{{ 9223372036854775807 + 1 }}", "{{ -9223372036854775807 - 2 }}",
          "{{ 4611686018427387904 * 2 }}", "{{ [1, 2] | sum(start=9223372036854775807) }}",
          "{{ (-9223372036854775807 - 1) // -1 }}", "{{ 3 ** 50 }}",
          "{{ -(-9223372036854775807 - 1) }}"})
        EXPECT_EQ(outcome(overflow).rfind("error: Integer overflow in ", 0), 0u)
            << overflow << " " << outcome(overflow);
    failsWith("{{ (-9223372036854775807 - 1) | abs }}", "abs filter: integer overflow");
}

TEST(InterpreterTest, RecursionWithinTheLimitWorks) {
    EXPECT_EQ(outcome("{% macro f(n) %}{% if n > 0 %}{{ n }}{{ f(n - 1) }}{% endif %}{% endmacro "
                      "%}{{ f(5) }}"),
              "54321");
}

TEST(InterpreterTest, ScopesOfARenderAreReleasedAtItsEnd) {
    // A caller stored in the namespace it can reach forms a cycle of shared
    // ownership; the render clears its scopes so nothing stays alive.
    Template compiled(
        "{% set ns = namespace() %}{% macro keep() %}{% set ns.c = caller %}{% endmacro %}"
        "{% for i in [1] %}{% call keep() %}x{% endcall %}{% endfor %}{{ ns.c() }}");
    auto root = Environment::make();
    std::weak_ptr<Environment> watched = root;
    EXPECT_EQ(Interpreter::render(compiled.nodes(), root), "x");
    root.reset();
    EXPECT_TRUE(watched.expired());
}

TEST(InterpreterTest, RendersInParallel) {
    Template compiled("{% for x in xs %}{{ x | upper }}{{ loop.index }}{% endfor %}");
    std::vector<std::thread> threads;
    std::vector<std::string> results(4);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i)
                results[t] = Interpreter::render(
                    compiled.nodes(), Environment::make(nullptr, testing::variablesFromJson(
                                                                     R"({"xs": ["a", "b"]})")));
        });
    for (auto& th : threads)
        th.join();
    for (const auto& r : results)
        EXPECT_EQ(r, "A1B2");
}

TEST(InterpreterTest, InterpretKeepsTheScopeItIsGiven) {
    Template compiled("{% set y = x + 1 %}{{ y }}");
    auto env = Environment::make(nullptr, testing::variablesFromJson(R"({"x": 1})"));
    std::string out;
    Interpreter::interpret(compiled.nodes(), env, out);
    EXPECT_EQ(out, "2");
    EXPECT_EQ((*env)["y"].asInt(), 2);
    EXPECT_EQ(Interpreter::interpret(compiled.nodes(), env), "2");
    // Call blocks leave the given scope as the template left it.
    Template block("{% macro m() %}{{ caller() }}{% endmacro %}{% call m() %}{{ x }}{% endcall "
                   "%}{% set z = 3 %}");
    out.clear();
    Interpreter::interpret(block.nodes(), env, out);
    EXPECT_EQ(out, "1");
    EXPECT_EQ((*env)["z"].asInt(), 3);
    EXPECT_EQ((*env)["x"].asInt(), 1);
}

} // namespace
} // namespace jinja
