// Loop bodies that read their item's entries run from a plan made when the
// template is compiled. A tree decoded from its JSON form outside the parser
// has no plans, so the same template rendered both ways must give the same
// output, or fail with the same message.

#include "RenderSupport.h"
#include "jinja/Ast.h"

#include <gtest/gtest.h>

namespace jinja::testing {
namespace {

// Whether any loop in the nodes (or the statements nested in them) has a plan.
bool anyPlan(const NodeList& nodes);

bool anyPlan(const Statement& s) {
    if (s.plan()) return true;
    switch (s.kind()) {
    case Statement::Kind::if_:
        return anyPlan(s.as<Statement::If>().body) || anyPlan(s.as<Statement::If>().alternate);
    case Statement::Kind::for_:
        return anyPlan(s.as<Statement::For>().body) || anyPlan(s.as<Statement::For>().alternate);
    case Statement::Kind::macro:
        return anyPlan(s.as<Statement::Macro>().body);
    default:
        return false;
    }
}

bool anyPlan(const NodeList& nodes) {
    for (const Node& n : nodes)
        if (n.kind() == Node::Kind::statement && anyPlan(n.statement())) return true;
    return false;
}

std::string outcomeOf(const NodeList& nodes, const Environment::Variables& vars,
                      const RenderLimits& limits) {
    try {
        return Interpreter::render(nodes, Environment::make(nullptr, vars), limits);
    } catch (const JinjaError& e) {
        return "error: " + e.message();
    }
}

// Renders the template planned and unplanned; expects both to give `expected`.
void expectBothWays(const char* text, const Environment::Variables& vars, const char* expected,
                    const RenderLimits& limits = {}) {
    Template compiled(text);
    ASSERT_TRUE(anyPlan(compiled.nodes())) << "no planned loop in: " << text;
    NodeList decoded;
    for (const Node& n : compiled.nodes())
        decoded.push_back(Node::fromJson(n.toJson()));
    ASSERT_FALSE(anyPlan(decoded));
    EXPECT_EQ(outcomeOf(compiled.nodes(), vars, limits), expected) << "planned: " << text;
    EXPECT_EQ(outcomeOf(decoded, vars, limits), expected) << "unplanned: " << text;
}

const char* const kMessages = R"({"ms": [
    {"role": "system", "content": "Be brief."},
    {"role": "user", "content": "  Hi there\n"},
    {"role": "assistant", "content": "Hello.", "tool_calls": [{"name": "f"}]},
    {"role": "tool", "content": " 42 "},
    {"role": "\u212A", "content": "\u00A0wide\u3000"}
]})";

TEST(LoopBodyTest, ChatTemplateFormsRenderAsTheTreeDoes) {
    const Environment::Variables vars = variablesFromJson(kMessages);
    expectBothWays(
        "{%- for m in ms -%}"
        "{%- if m.role not in ['system', 'user', 'assistant', 'tool'] -%}?{{ m.role }}"
        "{%- elif m.role == 'tool' -%}{{ '<t>' + m.content | trim + '</t>' }}"
        "{%- elif m.role == 'assistant' and m.tool_calls is defined -%}"
        "{{ '<a>' }}{% for c in m.tool_calls %}{{ c.name }}{% endfor %}{{ m['content'] }}"
        "{%- elif m.role != 'user' or not m.content -%}[{{ m.role }}:{{ m.content }}]"
        "{%- else -%}{{ '<' + m['role'] + '>' + m['content'] | trim + '|' }}"
        "{%- endif -%}"
        "{%- endfor -%}",
        vars, "[system:Be brief.]<user>Hi there|<a>fHello.<t>42</t>?\u212A");
    // U+212A equals K by canonical equivalence; U+00A0 and U+3000 are white space.
    expectBothWays("{% for m in ms %}{% if m.role == 'K' %}{{ m.content | trim }}{% endif %}"
                   "{% if m.role in ['K'] %}!{% endif %}{% endfor %}",
                   vars, "wide!");
    // Trimming white space of both kinds, mixed, and texts of nothing else.
    expectBothWays("{% for m in ms %}[{{ m.c | trim }}]{{ '<' + m.c | trim + '>' }}{% endfor %}",
                   variablesFromJson(R"({"ms": [{"c": "\t\u00A0 mixed \u3000\n"},
                                                {"c": " \u00e9 "}, {"c": ""}, {"c": " \n "}]})"),
                   "[mixed]<mixed>[\u00e9]<\u00e9>[]<>[]<>");
    // Kind tests over present, missing and null entries, and truthiness.
    expectBothWays("{% for m in [{'a': none}, {'a': 0}, {}, {'a': 'x'}] %}"
                   "{{ m.a is defined }}{{ m.a is none }}{{ m.a is not undefined }}"
                   "{% if m.a %}T{% endif %};{% endfor %}",
                   {}, "truetruetrue;truefalsetrue;falsefalsefalse;truefalsetrueT;");
}

TEST(LoopBodyTest, ItemsThatAreNoObjectsReadAsTheTreeDoes) {
    // Strings (whose names may be methods), numbers, none and lists as items.
    expectBothWays("{% for m in ['ab', 3, none, [1]] %}"
                   "{{ m.role }}{% if m.role is defined %}d{% endif %}"
                   "{% if m.upper %}u{% endif %}{{ m['x'] }}{% if m.role in ['a'] %}i{% endif %};"
                   "{% endfor %}",
                   {}, "u;;;;");
    expectBothWays("{% for m in [{'n': 1}, {'n': ['a']}, {'n': 'a'}] %}"
                   "{% if m.n in ['a', 'b'] %}y{% else %}n{% endif %}{% endfor %}",
                   {}, "nny");
    expectBothWays("{% for m in [{'n': {'a': 1}}] %}{{ '<' + m.n + '>' }}{% endfor %}", {},
                   "<{'a': 1}>");
    expectBothWays(
        "{% for m in [{'c': ' x '}, {'c': 5}] %}{{ '[' + m.c | trim + ']' }}{% endfor %}", {},
        "[x][]");
}

TEST(LoopBodyTest, AnythingButAReadMakesTheBodyReadAgain) {
    // An assignment to the item, or to its entry, between two reads.
    expectBothWays("{% for m in ms %}{{ m.role }}{% set m = {'role': 'z'} %}{{ m.role }}|"
                   "{% endfor %}",
                   variablesFromJson(R"({"ms": [{"role": "a"}, {"role": "b"}]})"), "az|bz|");
    expectBothWays("{% for m in ms %}{{ m.role }}{% set m.role = 'z' %}{{ m.role }}|{% endfor %}"
                   "{{ ms[0].role }}",
                   variablesFromJson(R"({"ms": [{"role": "a"}, {"role": "b"}]})"), "az|bz|a");
    // The loop object read between path reads, a loop filter, and a nested
    // loop over the same name.
    expectBothWays(
        "{% for m in ms if m.role != 'b' %}{{ m.role }}{{ loop.index }}"
        "{% for m in [{'role': 'in'}] %}{{ m.role }}{% endfor %}{{ m.role }};{% endfor %}",
        variablesFromJson(R"({"ms": [{"role": "a"}, {"role": "b"}, {"role": "c"}]})"),
        "a1ina;c3inc;");
    // Break and continue in planned branches.
    expectBothWays("{% for m in ms %}{% if m.role == 'b' %}{% continue %}{% elif m.role == 'c' %}"
                   "{% break %}{% endif %}{{ m.role }}{% endfor %}",
                   variablesFromJson(R"({"ms": [{"role": "a"}, {"role": "b"}, {"role": "c"},
                                                {"role": "d"}]})"),
                   "a");
    // Pairs unpacked from object entries.
    expectBothWays("{% for k, v in d.items() %}{{ k }}{{ v.a }}{% if v.a == 'y' %}!{% endif %}"
                   "{% endfor %}",
                   variablesFromJson(R"({"d": {"p": {"a": "x"}, "q": {"a": "y"}}})"), "pxqy!");
}

TEST(LoopBodyTest, FunctionsNamedLikeFiltersAndTestsAreCalled) {
    Environment::Variables vars = variablesFromJson(R"({"ms": [{"c": " a "}, {}]})");
    vars.insert_or_assign("trim", hostFunction([](const Array& args) {
                              return Value("T(" + args[0].description() + ")");
                          }));
    vars.insert_or_assign("defined", hostFunction([](const Array&) { return Value(false); }));
    expectBothWays("{% for m in ms %}{{ '<' + m.c | trim + '>' }}"
                   "{% if m.c is defined %}d{% else %}u{% endif %}{% endfor %}",
                   vars, "<T( a )>u<T()>u");
    // A function of that name bound while the loop runs is called from then on.
    Environment::Variables later = variablesFromJson(R"({"ms": [{"c": " a "}, {"c": " b "}]})");
    later.insert_or_assign("f", vars.find("trim")->second);
    expectBothWays("{% for m in ms %}{{ '<' + m.c | trim + '>' }}"
                   "{% if loop.first %}{% set trim = f %}{% endif %}{% endfor %}",
                   later, "<a><T( b )>");
    // A part of each item bound under the filter's name, a function only later.
    Environment::Variables pairs = variablesFromJson(R"({"c": {"c": " b "}})");
    pairs.insert_or_assign(
        "ps", Value(Array{Value(Array{Value("s"), pairs.find("c")->second}),
                          Value(Array{vars.find("trim")->second, pairs.find("c")->second})}));
    expectBothWays("{% for trim, m in ps %}{{ '<' + m.c | trim + '>' }}{% endfor %}", pairs,
                   "<b><T( b )>");
    // The loop's own variable named like the filter.
    expectBothWays("{% for trim in ms %}{{ '<' + trim.c | trim + '>' }}{% endfor %}",
                   variablesFromJson(R"({"ms": [{"c": " a "}]})"), "<a>");
}

TEST(LoopBodyTest, LimitsHoldInPlannedBodies) {
    RenderLimits limits;
    limits.maxBytes = 35;
    const Environment::Variables vars =
        variablesFromJson(R"({"ms": [{"c": "0123456789"}, {"c": "0123456789"},
                                     {"c": "0123456789"}, {"c": "0123456789"}]})");
    expectBothWays("{% for m in ms %}{{ '<' + m.c + '>' }}{% endfor %}", vars,
                   "error: Rendering exceeds the size limit of 35 bytes", limits);
    expectBothWays("{% for m in ms %}{{ m.c }}{% endfor %}", vars,
                   "error: Rendering exceeds the size limit of 35 bytes", limits);
}

} // namespace
} // namespace jinja::testing
