#include "jinja/Template.h"

#include "jinja/Environment.h"
#include "jinja/Interpreter.h"
#include "jinja/JinjaError.h"

#include <gtest/gtest.h>

namespace jinja {
namespace {

TEST(TemplateTest, CompileOptionsRewriteTheText) {
    struct Case {
        bool lstrip;
        bool trim;
        const char* text;
        const char* rewritten;
    };
    const Case cases[] = {
        {false, false, "  {% x %}\n", "  {% x %}\n"},
        {true, false, " \t{% x %}\n  {# c #}\n  {{ y }}\n a {% z %}",
         "{% x %}\n{# c #}\n  {{ y }}\n a {% z %}"},
        {true, false, "\xC2\xA0{% x %}", "\xC2\xA0{% x %}"},
        {true, false, "  {% x %}", "{% x %}"},
        // Every newline character separates lines and comes out as a line feed.
        {true, false, "a\r\n  {% x %}\r\n", "a\n\n{% x %}\n\n"},
        {true, false, "a\xE2\x80\xA8 {% x %}\xC2\x85", "a\n{% x %}\n"},
        {false, true, "{% x %}\n\n{# c #}\n{{ y }}\nz", "{% x %}\n{# c #}{{ y }}\nz"},
        {false, true, "{% x %} \n", "{% x %} \n"},
        {false, true, "{% x %}\r\n", "{% x %}\r\n"},
        {true, true, "  {% x %}\n  {% y %}\nz", "{% x %}{% y %}z"},
    };
    for (const auto& c : cases) {
        Template::Options options;
        options.lstripBlocks = c.lstrip;
        options.trimBlocks = c.trim;
        EXPECT_EQ(Template::applyOptions(c.text, options), c.rewritten) << c.text;
    }
}

TEST(TemplateTest, CompilesAndComparesNodeLists) {
    Template a("Hello {{ name }}!");
    EXPECT_EQ(a.nodes().size(), 3u);
    EXPECT_EQ(a, Template("Hello {{name}}!"));
    EXPECT_EQ(a.hash(), Template("Hello {{name}}!").hash());
    EXPECT_FALSE(a == Template("Hello {{ name }}?"));
    // Options apply before the "-" markers.
    Template::Options both{true, true};
    EXPECT_EQ(Template("  {%- if x %}\n  a\n{% endif %}\n", both),
              Template("{% if x %}  a\n{% endif %}"));
    EXPECT_EQ(Template::Options{}, (Template::Options{false, false}));
}

TEST(TemplateTest, CompileErrorsKeepTheirCase) {
    try {
        Template("{{ 'x }}");
        FAIL();
    } catch (const JinjaError& e) {
        EXPECT_EQ(e.kind(), JinjaError::Kind::lexer);
        EXPECT_STREQ(e.what(), "Lexer error: Unclosed string at position 3");
    }
    try {
        Template("{% if x %}");
        FAIL();
    } catch (const JinjaError& e) {
        EXPECT_EQ(e.kind(), JinjaError::Kind::parser);
        EXPECT_EQ(e.errorDescription(), "Parser error: Unclosed if statement");
    }
    EXPECT_EQ(JinjaError::syntax("bad").errorDescription(), "Syntax error: bad");
    EXPECT_EQ(JinjaError::runtime("bad").errorDescription(), "Runtime error: bad");
}

TEST(TemplateTest, RendersWithContextAndEnvironment) {
    Template greeting("{% set who = 'x' %}{{ greeting }}, {{ name }}{{ outer }}");
    EXPECT_EQ(greeting.render({{"greeting", Value("Hello")}, {"name", Value("Ann")}}),
              "Hello, Ann");

    auto parent = Environment::make();
    parent->set("outer", Value("!"));
    auto environment = Environment::make(parent);
    environment->set("name", Value("Bob"));
    EXPECT_EQ(greeting.render({{"greeting", Value("Hi")}}, environment), "Hi, Bob");
    // The environment keeps the context but not what the template assigned.
    ASSERT_NE(environment->find("greeting"), nullptr);
    EXPECT_EQ(*environment->find("greeting"), Value("Hi"));
    EXPECT_EQ(environment->variables.count("who"), 0u);

    // A context entry named like a global function is hidden by it.
    EXPECT_EQ(Template("{{ range is callable }}").render({{"range", Value(5)}}), "true");

    // A compiled template renders again and again with the same result.
    Template loop("{% for m in messages %}{{ m.role }}:{{ m.content }};{% endfor %}");
    Template::Context context{
        {"messages",
         Value(Array{Value::fromDictionaryLiteral({{"role", "user"}, {"content", "hi"}}),
                     Value::fromDictionaryLiteral({{"role", "assistant"}, {"content", "yo"}})})}};
    EXPECT_EQ(loop.render(context), "user:hi;assistant:yo;");
    EXPECT_EQ(loop.render(context), "user:hi;assistant:yo;");
}

} // namespace
} // namespace jinja

namespace jinja {
namespace {

// One compiled template rendered with contexts whose variables and keys
// stand in other orders: what a render remembers of the last one's layout
// never decides what the next one reads.
TEST(TemplateTest, RendersAgainWithOtherLayouts) {
    const Template compiled(
        "{{ m.role }}|{% for x in xs %}{{ x.role }}{{ x['content'] }},{% endfor %}");
    Template::Context first{{"m", Value::fromJson(R"({"role": "a"})")},
                            {"xs", Value::fromJson(R"([{"content": "1", "role": "r"}])")}};
    EXPECT_EQ(compiled.render(first), "a|r1,");
    Template::Context second{
        {"b", Value(1)},
        {"c", Value(2)},
        {"xs", Value::fromJson(R"([{"a": 0, "content": "2"}, {"role": "s"}])")},
        {"m", Value::fromJson(R"({"a": 1, "b": 2, "role": "z"})")}};
    EXPECT_EQ(compiled.render(second), "z|2,s,");
    EXPECT_EQ(compiled.render(first), "a|r1,");

    // Keys that share their first eight bytes, or all but their length.
    const Template heads("{{ k.abcdefgh }}{{ k.abcdefghi }}{{ k.ab }}{{ k.a }}");
    using std::literals::string_view_literals::operator""sv;
    const Value layouts[] = {
        Value::fromDictionaryLiteral(
            {{"abcdefgh", 1}, {"abcdefghi", 2}, {"ab", 3}, {"a", 5}, {"a\0"sv, 4}}),
        Value::fromDictionaryLiteral(
            {{"abcdefghi", 2}, {"a\0"sv, 4}, {"abcdefgh", 1}, {"a", 5}, {"ab", 3}}),
        Value::fromDictionaryLiteral({{"a\0"sv, 4},
                                      {"ab", 3},
                                      {"abcdefghj", 0},
                                      {"abcdefgh", 1},
                                      {"abcdefghi", 2},
                                      {"a", 5}}),
    };
    for (const Value& layout : layouts)
        EXPECT_EQ(heads.render({{"k", layout}}), "1235") << layout.description();

    // Variables whose names do the same, in scopes of other orders.
    const Template names("{{ abcdefgh.v }}{{ abcdefghi.v }}{{ a.v }}");
    const auto renderWith = [&](std::initializer_list<std::pair<std::string_view, int>> order) {
        Environment::Variables vars;
        for (const auto& [name, n] : order)
            vars.emplace(std::string(name), Value::fromDictionaryLiteral({{"v", n}}));
        return Interpreter::render(names.nodes(), Environment::make(nullptr, std::move(vars)),
                                   RenderLimits{});
    };
    EXPECT_EQ(renderWith({{"abcdefgh", 1}, {"abcdefghi", 2}, {"a", 3}, {"a\0"sv, 4}}), "123");
    EXPECT_EQ(renderWith({{"abcdefghi", 2}, {"a\0"sv, 4}, {"abcdefgh", 1}, {"a", 3}}), "123");
    EXPECT_EQ(
        renderWith({{"a\0"sv, 4}, {"a", 3}, {"abcdefghj", 0}, {"abcdefghi", 2}, {"abcdefgh", 1}}),
        "123");
}

} // namespace
} // namespace jinja

namespace jinja {
namespace {

// Conditions and outputs over one path read it once while only reads run
// between them; whatever runs between that can change it must be seen.
TEST(TemplateTest, RepeatedReadsSeeEveryChangeBetweenThem) {
    struct Case {
        const char* text;
        const char* expected;
    };
    const Case cases[] = {
        // nothing runs between: one read serves them all, in either spelling
        {"{% if m.role == 'a' %}A{% elif m.role == 'b' %}B{% endif %}{{ m['role'] }}", "Bb"},
        // an assignment to the variable, to a namespace attribute, in a branch
        {"{% if m.role == 'b' %}{% set m = {'role': 'c'} %}{% endif %}{{ m.role }}", "c"},
        {"{% for i in [1] %}{% if m.role == 'b' %}{% set m = {'x': 'd'} %}{% endif %}{{ m.x }}"
         "{% endfor %}",
         "d"},
        {"{% set ns = namespace(x='a') %}{% if ns.x == 'a' %}{% set ns.x = 'b' %}{% endif %}"
         "{% if ns.x == 'b' %}{{ ns.x }}{% endif %}",
         "b"},
        // a macro called in an output changes a namespace attribute
        {"{% set ns = namespace(x='a') %}{% macro f() %}{% set ns.x = 'z' %}{% endmacro %}"
         "{% if ns.x == 'a' %}{{ f() }}{% endif %}{{ ns.x }}{{ ns['x'] }}",
         "zz"},
        {"{% set ns = namespace(x='a') %}{% macro f() %}{% set ns.x = 'z' %}{% endmacro %}"
         "{% if ns.x == 'a' %}{{ 'p' + f() + ns.x }}{% endif %}",
         "pz"},
        {"{% set ns = namespace(d={'r': 'a'}) %}{% macro f() %}{% set ns.d = {'r': 'z'} %}"
         "{% endmacro %}{% if ns.d.r == 'a' %}{{ f() }}{% endif %}{{ ns.d.r }}",
         "z"},
        {"{% set ns = namespace(d={'r': 'a'}) %}{% macro f() %}{% set ns.d = {'r': 'z'} %}"
         "{% endmacro %}{% if ns.d.r == 'a' %}{{ ns.d.r ~ f() ~ ns.d['r'] }}{% endif %}",
         "az"},
        // two paths read in turn are both remembered, and both forgotten
        {"{% if m.role == 'a' or m.x is defined %}A{% else %}{{ m['role'] }}{{ m.x is defined }}"
         "{% endif %}",
         "bfalse"},
        {"{% set ns = namespace(d={'r': 'a'}, e='b') %}{% macro f() %}{% set ns.d = {'r': 'z'} %}"
         "{% endmacro %}{% if ns.d.r == 'a' and ns.e == 'b' %}{{ f() }}{{ ns.d.r }}{% endif %}",
         "z"},
        // a loop between, with the same name in its own scope
        {"{% if m.role == 'b' %}{% for m in [{'role': 'i'}] %}{{ m.role }}{% endfor %}"
         "{{ m.role }}{% endif %}",
         "ib"},
        // every iteration reads its own item
        {"{% for x in [{'r': 'a'}, {'r': 'b'}] %}{% if x.r == 'a' %}1{% elif x.r == 'b' %}2"
         "{% endif %}{{ x['r'] }}{% endfor %}",
         "1a2b"},
        // a string: a name step may be a method, a key step is not
        {"{% set s = 'ab' %}{% if s.upper is defined %}d{% endif %}{{ s['upper'] is defined }}",
         "dfalse"},
        {"{% set s = 'ab' %}{{ s['upper'] is defined }}{% if s.upper is defined %}d{% endif %}",
         "falsed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Template(c.text).render({{"m", Value::fromJson(R"({"role": "b"})")}}),
                  c.expected);
    }
}

} // namespace
} // namespace jinja
