#include "jinja/filters/Filters.h"

#include "RenderSupport.h"
#include "jinja/CallArguments.h"

#include <regex>

namespace jinja {
namespace {

using testing::expectCases;
using testing::outcome;

TEST(FiltersTest, RegistryHoldsEveryFilterInTableOrder) {
    const auto& table = Filters::builtIn();
    ASSERT_EQ(table.size(), 54u);
    EXPECT_EQ(table.front().first, "upper");
    EXPECT_EQ(table.back().first, "urlize");
    EXPECT_EQ(Filters::find("count"), Filters::find("length"));
    EXPECT_EQ(Filters::find("e"), Filters::find("escape"));
    EXPECT_EQ(Filters::find("d"), Filters::find("default"));
    EXPECT_EQ(Filters::find("Upper"), nullptr);
}

TEST(FiltersTest, StringFilters) {
    expectCases({
        {"{{ 'straße' | upper }}|{{ 'ÀB' | lower }}", "", "STRASSE|àb"},
        {"{{ 5 | upper }}", "", "error: upper filter requires string"},
        {"{{ none | lower }}", "", "error: lower filter requires string"},
        {"{{ 'hELLO wORLD' | capitalize }}|{{ '' | capitalize }}|{{ 5 | capitalize }}", "",
         "Hello world||"},
        {"{{ 'hello wORLD' | title }}", "", "Hello World"},
        {"[{{ 'ab' | center(5) }}]|[{{ 'abcdef' | center(3) }}]|{{ 5 | center(9) }}", "",
         "[ ab  ]|[abcdef]|5"},
        {"{{ 'ab' | center }}", "", "error: Missing required argument 'width' for filter."},
        {"{{ 'ab' | center('5') }}", "", "error: center filter requires width parameter"},
        {"{{ s | wordcount }}|{{ '' | wordcount }}|{{ 5 | wordcount }}",
         "{\"s\": \"  one  two\\nthree \"}", "3|0|0"},
        {"{{ 'aaa' | replace('a', 'b', 2) }}|{{ 'aaa' | replace('a', 'b', 0) }}|{{ 'aaa' | "
         "replace('a', 'b', -1) }}|"
         "{{ 'aaa' | replace('a', 'b') }}",
         "", "bba|aaa|aaa|bbb"},
        {"{{ 'abc' | replace('', '-') }}|{{ 'abc' | replace('', '-', 2) }}|{{ 5 | replace('a', "
         "'b') }}",
         "", "-a-b-c-|-a-bc|5"},
        {"{{ 'abc' | replace('a', 1) }}", "",
         "error: replace() requires 'old' and 'new' string arguments."},
        {"{{ 'abc' | replace('a') }}", "", "error: Missing required argument 'new' for filter."},
        {"{{ 'xxhixx' | trim('x') }}|[{{ s | trim('') }}]|[{{ s | trim }}]",
         "{\"s\": \" \\t hi \\n\"}", "hi|[hi]|[hi]"},
        {"{{ s | escape }}|{{ s | e }}|{{ '&amp;' | forceescape }}|{{ 5 | escape }}",
         R"({"s": "<a href=\"x\">'&'</a>"})",
         "&lt;a href=&#34;x&#34;&gt;&#39;&amp;&#39;&lt;/a&gt;|&lt;a "
         "href=&#34;x&#34;&gt;&#39;&amp;&#39;&lt;/a&gt;|&amp;amp;|"},
        {"{{ 5 | escape(x=1) }}", "", "error: Unexpected keyword argument 'x' for filter."},
        {"{{ 5 | forceescape(x=1) }}", "", ""},
        {"{{ 'a' | forceescape(x=1) }}", "", "error: Unexpected keyword argument 'x' for filter."},
        {"{{ 5 | safe }}|{{ [1, 'a'] | string }}|{{ none | string }}", "", "5|[1, 'a']|"},
        {"{{ s | striptags }}", R"({"s": "<p>Hello <br>  <b>big</b>\n world</p> &amp;"})",
         "Hello big world &amp;"},
        {"{{ '%s and %s' | format(1) }}|{{ '100%' | format(1) }}|{{ '%d %s' | format(1) }}|{{ "
         "'%%s' | format(1) }}",
         "", "1 and %s|100%|%d 1|%%s"},
        {"{{ '%s' | format }}|{{ '%s' | format(x=1) }}|{{ 5 | format(1) }}", "", "%s|%s|5"},
        {"{{ 'one two three four' | truncate(9, leeway=0) }}|{{ 'one two three four' | truncate(9, "
         "true, leeway=0) }}",
         "", "one two...|one two t..."},
        {"{{ 'abcdefghijk' | truncate(3, leeway=0) }}|{{ 'short' | truncate(3) }}|{{ 'abcdef' | "
         "truncate(2, end='!', leeway=0) }}",
         "", "abc...|short|ab!"},
        {"{{ 'abc' | truncate(-5, leeway=0) }}|{{ 'abc' | truncate(9223372036854775807, "
         "leeway=9223372036854775807) }}",
         "", "...|abc"},
        {"{{ 'abc' | truncate(3, length=4) }}", "",
         "error: Argument 'length' passed both positionally and as keyword."},
        {"{{ 'abc' | truncate(size=4) }}", "",
         "error: Unexpected keyword argument 'size' for filter."},
        {"{{ 'abc' | truncate(1, false, '...', 0, 'ignored') }}", "", "a..."},
        {"{{ s | indent(2) }}", "{\"s\": \"a\\n\\nb\"}", "a\n\n  b"},
        {"{{ s | indent(2, true, true) }}", "{\"s\": \"a\\n\\nb\"}", "  a\n  \n  b"},
        {"{{ s | indent('> ') }}|{{ 'a\\n' | indent }}|{{ 'a\\r\\nb' | indent(1) }}|{{ 'a\\nb' | "
         "indent(-3) }}",
         "{\"s\": \"a\\nb\"}", "a\n> b|a\n|a\r\nb|a\nb"},
    });
}

TEST(FiltersTest, SequenceFilters) {
    expectCases({
        {"{{ s | length }}|{{ s | reverse }}", "{\"s\": \"e\\u0301x\"}", "2|xe\u0301"},
        {"{{ undefined_variable | length }}|{{ [1, 2, 3] | count(9) }}|{{ {'a': 1} | length }}", "",
         "0|3|1"},
        {"{{ none | length }}", "", "error: length filter requires string, array, or object"},
        {"{{ [1, 2, 3] | length(extra=1) }}", "",
         "error: Unexpected keyword argument 'extra' for filter."},
        {"{{ 'abc' | join(',') }}", "", "error: join filter requires array"},
        {"{{ [1, none, 'x'] | join('-') }}|{{ [] | join(',') }}|{{ [1, 2] | join }}", "",
         "1--x||12"},
        {"{{ [1, 2] | join(none) }}", "", "error: join filter requires string separator"},
        {"{{ users | join(', ', attribute='name') }}|{{ [[1, 2], [3, 4]] | join(',', attribute=1) "
         "}}|{{ [d] | join(attribute=1) }}",
         R"({"users": [{"name": "a"}, {"x": 1}, {"name": "c"}], "d": {"1": "s"}})", "a, , c|2,4|s"},
        {"{{ x | default(0) }}|{{ n | default(0) }}|{{ false | default(0, true) }}|{{ 0 | "
         "default(1, true) }}|"
         "{{ '' | d(1, true) }}|{{ [] | default(1, true) }}",
         R"({"n": null})", "0||0|0||[]"},
        {"{{ 'x' | default }}", "", "error: Missing required argument 'default_value' for filter."},
        {"{{ 'abc' | first }}|{{ 'abc' | last }}|{{ '' | first is defined }}|{{ [] | last is "
         "defined }}|{{ [1, 2] | last }}",
         "", "a|c|false|false|2"},
        {"{{ {'a': 1} | first }}", "", "error: first filter requires array or string"},
        {"{{ 5 | last }}", "", "error: last filter requires array or string"},
        {"{{ ({'a': 1, 'b': 2} | random) in ['a', 'b'] }}|{{ 5 | random is defined }}|{{ [] | "
         "random is defined }}|{{ [7] | random }}",
         "", "true|false|false|7"},
        {"{{ [1, 2, 3] | reverse }}", "", "[3, 2, 1]"},
        {"{{ 5 | reverse }}", "", "error: reverse filter requires array or string"},
        {"{{ 'abc' | slice(2) }}|{{ [1, 2, 3, 4] | slice(3) }}|{{ [1, 2, 3] | slice(2, '-') }}|{{ "
         "[] | slice(2) }}",
         "", "[]|[[1, 4], [2, ], [3, ]]|[[1, 3], [2, '-']]|[[], []]"},
        {"{{ [1, 2, 3] | slice(0) }}", "",
         "error: slice filter requires positive integer numSlices parameter"},
        {"{{ [1, 2, 3] | slice(1.5) }}", "",
         "error: slice filter requires positive integer numSlices parameter"},
        {"{{ {'a': 1, 'b': 2} | list }}|{{ 'ab' | list }}|{{ 5 | list }}", "",
         "[1, 2]|['a', 'b']|[]"},
        {"{{ [1, 2, 3, 4, 5] | batch(2, 0) }}|{{ [1, 2] | batch(2) }}|{{ [1, 2, 3] | batch(2) "
         "}}|{{ [] | batch(3) }}",
         "", "[[1, 2], [3, 4], [5, 0]]|[[1, 2]]|[[1, 2], [3, ]]|[]"},
        {"{{ [1] | batch(0) }}", "",
         "error: batch filter requires positive integer batchSize parameter"},
        {"{{ [1, 2.5] | sum }}|{{ [1, 2] | sum(start=10) }}|{{ 'abc' | sum(start=5) }}|{{ ['a', "
         "'b'] | sum(start='') }}|"
         "{{ [[1], [2]] | sum(start=[]) }}|{{ users | sum('n') }}",
         R"({"users": [{"n": 1}, {"n": 2}]})", "3.5|13|0|ab|[1, 2]|3"},
        {"{{ [[1]] | sum }}", "", "error: Cannot add values of different types (0 and [1])"},
        {"{{ {'a': 1} | items }}|{{ [1, 2] | items }}", "", "[['a', 1]]|[]"},
    });
}

TEST(FiltersTest, SortingGroupingAndUnique) {
    const char* people =
        R"({"people": [{"name": "b", "age": 30}, {"name": "a", "age": 30}, {"name": "c", "age": 20}]})";
    expectCases({
        {"{{ 'abc' | sort(x=1) }}|{{ [] | dictsort }}|{{ {'a': 1} | groupby(x=1) }}|{{ 'abc' | "
         "unique(x=1) }}",
         "", "[]|[]|[]|[]"},
        {"{{ [3, 1, 2] | sort }}|{{ [3, 1, 2] | sort(true) }}|{{ [1, 2.5, 2] | sort }}", "",
         "[1, 2, 3]|[3, 2, 1]|[1, 2, 2.5]"},
        {"{{ ['b', 'a', 'B'] | sort }}|{{ ['b', 'a', 'B'] | sort(case_sensitive=true) }}|{{ ['b', "
         "'a', 'B'] | sort(reverse=true) }}",
         "", "['a', 'b', 'B']|['B', 'a', 'b']|['B', 'b', 'a']"},
        {"{{ [1, 'a'] | sort }}", "", "error: Cannot compare values of different types (a and 1)"},
        {"{{ [none, none] | sort }}", "",
         "error: Cannot compare values of different types ( and )"},
        {"{{ [none] | sort }}", "", "[]"},
        {"{{ people | sort(attribute='age, name') | map(attribute='name') | join }}|{{ [2, 1] | "
         "sort(attribute=' , ') }}",
         people, "cab|[1, 2]"},
        {"{{ [1, 2] | sort(attribute='x') }}", "",
         "error: Cannot compare values of different types ( and )"},
        {"{{ [{'c': 'A'}, {'c': 'a'}] | groupby('c') | map(attribute='grouper') | join }}|"
         "{{ [{'c': 'A'}, {'c': 'a'}] | groupby('c', case_sensitive=true) | "
         "map(attribute='grouper') | join }}",
         "", "A|Aa"},
        {"{% for g in [{'c': 'x'}, {}, {'c': 'a'}] | groupby('c') %}[{{ g.grouper }}:{{ g.list | "
         "length }}]{% endfor %}",
         "", "[:1][a:1][x:1]"},
        {"{% for g in [{'c': 'x'}, {}] | groupby('c', 'x') %}[{{ g.grouper }}:{{ g.list | length "
         "}}]{% endfor %}",
         "", "[x:2]"},
        {"{{ [{'k': 1}, {'k': 1.0}] | groupby('k') | length }}|{{ [{'k': 1}, {'k': '1'}] | "
         "groupby('k') | length }}",
         "", "1|2"},
        {"{{ [{'k': 1}] | groupby(1) }}", "", "error: groupby filter requires attribute parameter"},
        {"{{ [] | groupby(none) }}", "", "error: groupby filter requires attribute parameter"},
        {"{{ [{'k': 1}] | groupby }}", "",
         "error: Missing required argument 'attribute' for filter."},
        {"{{ {'b': 1, 'a': 2} | dictsort }}|{{ {'b': 1, 'a': 2} | dictsort(by='value') }}|{{ {'b': "
         "1, 'a': 2} | dictsort(by='foo') }}|"
         "{{ {'b': 1, 'a': 2} | dictsort(reverse=true) }}",
         "", "[['a', 2], ['b', 1]]|[['b', 1], ['a', 2]]|[['a', 2], ['b', 1]]|[['b', 1], ['a', 2]]"},
        {"{{ {'x': 10, 'y': 9} | dictsort(by='value') }}", "", "[['x', 10], ['y', 9]]"},
        {"{{ {'b': 1, 'B': 2} | dictsort }}|{{ {'b': 1, 'B': 2} | dictsort(reverse=true) }}|{{ "
         "{'b': 1, 'B': 2} | dictsort(true) }}",
         "", "[['b', 1], ['B', 2]]|[['b', 1], ['B', 2]]|[['B', 2], ['b', 1]]"},
        {"{{ {2: 'x', 1: 'y', 'a': 'z'} | dictsort }}|{{ {2: 'x', 1: 'y', 'a': 'z'} | "
         "dictsort(reverse=true) }}",
         "", "[[1, 'y'], [2, 'x'], ['a', 'z']]|[['a', 'z'], [2, 'x'], [1, 'y']]"},
        {"{{ {'é': 1, 'f': 2, 'E': 3} | dictsort | map('first') | join }}", "", "Efé"},
        {"{{ ['a', 'A', 'b', 'a'] | unique }}|{{ ['a', 'A', 'b', 'a'] | unique(true) }}|{{ [1, "
         "1.0] | unique }}",
         "", "['a', 'b']|['a', 'A', 'b']|[1, 1.0]"},
        {"{{ people | unique(attribute='age') | map(attribute='name') | join }}|{{ people | "
         "unique(attribute='zz') | length }}|"
         "{{ [[1, 2], [1, 3], [2, 4]] | unique(attribute=0) }}",
         people, "bc|1|[[1, 2], [2, 4]]"},
    });
}

TEST(FiltersTest, SortingSurvivesInconsistentOrders) {
    // NaN compares equal to every number, which is no consistent order; the
    // sort still ends and keeps every element.
    Environment::Variables vars;
    Array values;
    for (int i = 0; i < 200; ++i)
        values.push_back(i % 7 == 0 ? Value(std::nan("")) : Value((i * 37) % 101));
    vars.emplace("xs", Value(values));
    EXPECT_EQ(testing::render("{{ xs | sort | length }}", vars), "200");
}

TEST(FiltersTest, NumericFilters) {
    expectCases({
        {"{{ (-3) | abs }}|{{ (-2.5) | abs }}|{{ -0.0 | abs }}", "", "3|2.5|0.0"},
        {"{{ '3' | abs }}", "", "error: abs filter requires number or integer"},
        {"{{ '3.5' | float }}|{{ ' 3.5' | float }}|{{ '3.5 ' | float }}|{{ 'abc' | float('x') "
         "}}|{{ true | float }}|{{ 7 | float }}",
         "", "3.5|0.0|0.0|x|0.0|7.0"},
        {"{{ '0x1p4' | float }}|{{ '-1e3' | float }}|{{ '' | float }}", "", "16.0|-1000.0|0.0"},
        {"{{ '42' | int }}|{{ s | int }}|{{ '+7' | int }}|{{ '4_2' | int }}|{{ '3.7' | int }}|{{ "
         "'1e3' | int }}|{{ 3.7 | int }}|"
         "{{ (-3.7) | int }}|{{ true | int }}|{{ 'x' | int(-1) }}",
         "{\"s\": \" \\t42\\n\"}", "42|42|7|0|0|0|3|-3|0|-1"},
        {"{{ '0x1A' | int }}|{{ '0b101' | int }}|{{ '0o17' | int }}|{{ '0x' | int }}|{{ '0x-1f' | "
         "int }}|{{ '-0x1f' | int }}|"
         "{{ '0x1f' | int(base=8) }}",
         "", "26|5|15|0|-31|0|31"},
        {"{{ 'ff' | int(0, 16) }}|{{ 'ff' | int(base=16) }}|{{ '12' | int(base=2) }}|{{ 'zz' | "
         "int(base=16) }}|"
         "{{ '0b1' | int(base=16) }}|{{ '10' | int(base=1) }}|{{ '10' | int(base='16') }}|{{ 'z' | "
         "int(base=36) }}",
         "", "255|255|12|0|1|10|10|35"},
        {"{{ '9223372036854775807' | int }}|{{ '9223372036854775808' | int }}|{{ "
         "'-9223372036854775808' | int }}",
         "", "9223372036854775807|0|-9223372036854775808"},
        {"{{ big | int }}|{{ (10.0 ** 400) | int(7) }}|{{ -9223372036854775808.0 | int }}",
         R"({"big": 1e300})", "0|7|-9223372036854775808"},
        {"{{ [3, 1, 2] | max }}|{{ [1, 2.5, 2] | max }}|{{ [] | max is defined }}|{{ 'abc' | max "
         "is defined }}|{{ [1, 'a', 3] | max }}|"
         "{{ ['a', 1] | max }}",
         "", "3|2.5|false|false|3|a"},
        {"{{ ['B', 'a', 'b'] | max }}|{{ ['B', 'a'] | max(true) }}|{{ ['b', 'A'] | min }}|{{ [3, "
         "1, 2] | min }}",
         "", "B|a|A|1"},
        {"{{ (users | max(attribute='age')).n }}|{{ ([{'n': 'x'}] | max(attribute='age')).n }}",
         R"({"users": [{"n": "a", "age": 3}, {"n": "b", "age": 5}, {"n": "c", "age": 5}]})", "b|x"},
        {"{{ users | max(attribute='age') }}", R"({"users": [{"age": 3}, {"n": 1}]})",
         "error: Cannot compare values of different types (3 and )"},
        {"{{ 2.5 | round }}|{{ (-0.5) | round }}|{{ 5 | round }}|{{ 3.14159 | round(2) }}|{{ 2.1 | "
         "round(0, 'ceil') }}|"
         "{{ (-2.1) | round(0, 'floor') }}|{{ 1234 | round(-2) }}|{{ 2.567 | round(1, 'nearest') "
         "}}|{{ 'abc' | round }}",
         "", "3.0|-1.0|5.0|3.14|3.0|-3.0|1200.0|2.567|abc"},
    });
}

TEST(FiltersTest, FormattingFilters) {
    expectCases({
        {"{{ 'aaa bbb ccc ddd' | wordwrap(10) }}", "", "aaa bbb\nccc ddd"},
        {"{{ s | wordwrap(20) }}|{{ 'a b c' | wordwrap(3, wrapstring='<br>') }}|{{ 5 | wordwrap }}",
         "{\"s\": \"a  b\\n\\nc\"}", "a b\nc|a b<br>c|"},
        {"{{ 'abcdefghij' | wordwrap(4) }}|{{ 'abcdefghij' | wordwrap(4, false) }}", "",
         "abcd\nefgh\nij|abcdefghij"},
        {"{{ 'aa-bb-cc-dd' | wordwrap(7) }}|{{ 'aa-bb-cc-dd' | wordwrap(7, break_on_hyphens=false) "
         "}}",
         "", "aa- bb-\ncc- dd|aa-bb-c\nc-dd"},
        {"{{ 'go to www.example.com. now' | urlize }}", "",
         "go to <a href=\"https://www.example.com\">www.example.com</a>. now"},
        {"{{ '(http://x.org) mail a@b.c' | urlize }}", "",
         "(<a href=\"http://x.org\">http://x.org</a>) mail <a href=\"mailto:a@b.c\">a@b.c</a>"},
        {"{{ 'ftp:x FTP:y' | urlize }}|{{ 'ftp:x' | urlize(extra_schemes=['FTP']) }}", "",
         "ftp:x FTP:y|<a href=\"ftp:x\">ftp:x</a>"},
        {"{{ 'plain <b> text' | urlize }}|{{ 'http://abcdefgh.org' | urlize(5) }}", "",
         "plain <b> text|<a href=\"http://abcdefgh.org\">http:...</a>"},
        {"{{ 'http://x' | urlize(nofollow=true, target='_b', rel='me') }}|{{ 'a \\n  http://x' | "
         "urlize }}",
         "",
         "<a href=\"http://x\" rel=\"nofollow\" target=\"_b\" rel=\"me\">http://x</a>|a \n  <a "
         "href=\"http://x\">http://x</a>"},
        {"{{ 'http://abc' | urlize(-2) }}", "", "<a href=\"http://abc\">...</a>"},
        {"{{ 'a b&c' | urlencode }}|{{ {'q': 'x y'} | urlencode }}|{{ {} | urlencode }}|{{ 5 | "
         "urlencode }}|{{ 'é/?' | urlencode }}",
         "", "a%20b&c|q=x%20y|||%C3%A9/?"},
        {"{{ {'q': 'a&b=c+d', 1: 2} | urlencode }}", "", "q=a%26b%3Dc%2Bd&1=2"},
        {"[{{ {'class': 'a<b', 'id': none, 'n': 1} | xmlattr }}]|[{{ {'class': 'a'} | "
         "xmlattr(false) }}]|[{{ 5 | xmlattr }}]",
         "", "[ class=\"a&lt;b\" n=\"1\"]|[class=\"a\"]|[]"},
        {"{{ {'data x': 1} | xmlattr }}", "",
         "error: Invalid character in XML attribute key: 'data x'"},
        {"[{{ {'data x': none} | xmlattr }}]", "", "[]"},
        {"{{ 999 | filesizeformat }}|{{ 1 | filesizeformat }}|{{ 1500 | filesizeformat }}|{{ 1024 "
         "| filesizeformat(true) }}|"
         "{{ 999999 | filesizeformat }}|{{ 1000000 | filesizeformat }}|{{ big | filesizeformat "
         "}}|{{ -5000 | filesizeformat }}|"
         "{{ 'x' | filesizeformat }}|{{ -huge | filesizeformat }}",
         R"({"big": 1e30, "huge": 1e20})",
         "999 Bytes|1 Bytes|1.5 kB|1.0 KiB|1000.0 kB|1.0 MB|1000000.0 YB|-5000 Bytes||"
         "-100000000000000000000 Bytes"},
        {"{{ (10.0 ** 400) | filesizeformat }}", "",
         "error: filesizeformat requires a finite size"},
        {"{{ {'b': 1, 'a': 'x/é'} | tojson }}|{{ {'a': 'é'} | tojson(ensure_ascii=false) }}|{{ '😀' "
         "| tojson }}|{{ 5 | tojson(indent='x') }}",
         "", "{\"a\":\"x\\/\\u00e9\",\"b\":1}|{\"a\":\"é\"}|\"\\ud83d\\ude00\"|5"},
        {"{{ {'a': [1]} | tojson(indent=2) == {'a': [1]} | tojson(indent=8) }}|{{ range | tojson "
         "}}|{{ [1, f] | tojson }}",
         "", "true|null|[1,null]"},
        {"{{ [1, {'k': 'v'}] | pprint }}|{{ [[], {}] | pprint }}|{{ none | pprint }}", "",
         "[\n  1,\n  {\n    \"k\": \"v\"\n  }\n]|[\n  [],\n  {}\n]|"},
    });
}

TEST(FiltersTest, SelectionAndMapping) {
    const char* users = R"({"users": [{"name": "a", "role": "admin", "active": true, "age": 3},
                                       {"name": "b", "role": "user", "active": false},
                                       {"name": "c", "role": "admin"}]})";
    expectCases({
        {"{{ ['a', 'b'] | map('upper') }}|{{ [] | map('nosuch') }}|{{ [1.56] | map('round', 1) "
         "}}|{{ [1, 2] | map }}",
         "", "['A', 'B']|[]|[2.0]|[]"},
        {"{{ ['a'] | map('nosuch') }}", "", "error: Unknown filter: nosuch"},
        {"{{ ['a'] | map('center') }}", "", "error: Missing required argument 'width' for filter."},
        {"{{ users | map(attribute='age') }}|{{ users | map(attribute='age', default=0) }}", users,
         "[3, , ]|[3, 0, 0]"},
        {"{% macro upper(x) %}m{% endmacro %}{{ ['a'] | map('upper') }}", "", "['A']"},
        {"{{ [0, 1, '', 'a', none, [], [0]] | select }}|{{ [0, 1, '', 'a', none, [], [0]] | reject "
         "}}",
         "", "[1, 'a', [0]]|[0, '', , []]"},
        {"{{ [1, 2, 3, 4] | select('odd') }}|{{ [3, 4, 6] | select('divisibleby', 3) }}|{{ [1, 2] "
         "| select(testname='even') }}",
         "", "[1, 3]|[3, 6]|[2]"},
        {"{{ [1] | select('nosuch') }}", "", "error: Unknown test: nosuch"},
        {"{{ users | selectattr('role', 'equalto', 'admin') | map(attribute='name') | join }}|"
         "{{ users | rejectattr('active') | map(attribute='name') | join }}|{{ users | "
         "selectattr('active') | length }}",
         users, "ac|bc|1"},
        {"{{ users | selectattr(0) }}", users,
         "error: selectattr filter requires attribute parameter"},
        {"{{ users | rejectattr(none) }}", users,
         "error: rejectattr filter requires attribute parameter"},
        {"{{ {'items': 1} | attr('items') }}|{{ [1] | attr('x') is defined }}|{{ {'a': 2} | "
         "attr('a') }}",
         "", "[Function]|false|2"},
        {"{{ x | attr(1) }}", "", "error: attr filter requires attribute parameter"},
    });
    Environment::Variables vars = testing::variablesFromJson(R"({"xs": ["a"]})");
    vars.emplace("upper", testing::hostFunction(
                              [](const Array& args) { return Value("f:" + args[0].asString()); }));
    vars.emplace("big", testing::hostFunction([](const Array& args) {
                     return Value(args[0].isInt() && args[0].asInt() > 1);
                 }));
    EXPECT_EQ(testing::render("{{ xs | map('upper') }}|{{ [1, 2, 3] | select('big') }}", vars),
              "['f:a']|[2, 3]");
}

TEST(FiltersTest, ArgumentBinding) {
    using P = CallArguments::Parameter;
    const P params[] = {{"a", std::nullopt}, {"b", Value(2)}, {"c", Value()}};
    Array args{Value(1)};
    KeywordArguments kwargs{{"c", Value::undefined()}};
    CallArguments bound = CallArguments::bind(params, args, kwargs);
    EXPECT_EQ(bound[0].asInt(), 1);
    EXPECT_EQ(bound[1].asInt(), 2);
    EXPECT_TRUE(bound[2].isUndefined());

    auto message = [](auto&& f) {
        try {
            f();
        } catch (const JinjaError& e) {
            return e.message();
        }
        return std::string("no error");
    };
    EXPECT_EQ(
        message([&] {
            CallArguments::bind({}, Array{Value(1), Value(2)}, KeywordArguments{{"x", Value(1)}});
        }),
        "Unexpected keyword argument 'x' for filter.");
    EXPECT_EQ(message([&] { CallArguments::bind(params, Array{}, KeywordArguments{}); }),
              "Missing required argument 'a' for filter.");
    EXPECT_EQ(message([&] {
                  CallArguments::bind(params, Array{Value(1), Value(2)},
                                      KeywordArguments{{"b", Value(1)}});
              }),
              "Argument 'b' passed both positionally and as keyword.");

    auto map =
        resolveCallArguments({Value(1)}, {{"c", Value(3)}}, {"a", "b", "c"}, {{"b", Value()}});
    EXPECT_EQ(map.size(), 3u);
    EXPECT_TRUE(map["b"].isNull());
    EXPECT_EQ(map["c"].asInt(), 3);
    std::vector<std::string> many = {"p1", "p2", "p3", "p4", "p5", "p6", "p7", "p8"};
    auto wide =
        resolveCallArguments({Value(1), Value(2), Value(3), Value(4), Value(5), Value(6), Value(7)},
                             {{"p8", Value(8)}}, many, {});
    EXPECT_EQ(wide["p7"].asInt(), 7);
    EXPECT_EQ(wide["p8"].asInt(), 8);
    EXPECT_EQ(message([&] { resolveCallArguments({Value(1)}, {}, many, {}); }),
              "Missing required argument 'p2' for filter.");
    EXPECT_EQ(message([&] {
                  resolveCallArguments({}, {{"zz", Value(1)}}, many, {});
              }),
              "Unexpected keyword argument 'zz' for filter.");
}

} // namespace
} // namespace jinja
