#include "jinja/Globals.h"

#include "RenderSupport.h"

#include <ctime>
#include <regex>

namespace jinja {
namespace {

using testing::expectCases;
using testing::outcome;

TEST(GlobalsTest, Range) {
    expectCases({
        {"{{ range(5) }}|{{ range(2, 5) }}|{{ range(0, 10, 3) }}|{{ range(5, 0, -2) }}", "",
         "[0, 1, 2, 3, 4]|[2, 3, 4]|[0, 3, 6, 9]|[5, 3, 1]"},
        {"{{ range(0) }}{{ range(-3) }}{{ range(5, 2) }}", "", "[][][]"},
        {"{{ range(9223372036854775805, 9223372036854775807, 5) }}", "", "[9223372036854775805]"},
        {"{{ range(-9223372036854775807, -9223372036854775807 - 1, -3) }}", "",
         "[-9223372036854775807]"},
        {"{{ range(1, 5, 0) }}", "", "error: range() step argument must not be zero"},
        {"{{ range(1.0) }}", "", "error: range() stop argument must be an integer"},
        {"{{ range(1, 2.0) }}", "", "error: range() arguments must be integers"},
        {"{{ range() }}", "", "error: range() takes 1 to 3 arguments"},
        {"{{ range(1, 2, 3, 4) }}", "", "error: range() takes 1 to 3 arguments"},
        {"{{ range(stop=3) }}", "", "error: range() takes 1 to 3 arguments"},
    });
}

TEST(GlobalsTest, DictNamespaceCyclerJoiner) {
    expectCases({
        {"{{ dict(b=1, a=2) }}|{{ namespace(b=1, a=2) }}|{{ dict(x) }}|{{ dict() }}", "",
         "{'a': 2, 'b': 1}|{'a': 2, 'b': 1}|{}|{}"},
        {"{% set c = cycler(1, 2) %}{{ c.next() }}{{ c.next() }}{{ c.next() }}{{ c.current }}{{ "
         "c.reset() }}{{ c.next() }}",
         "", "12111"},
        {"{{ cycler() }}", "", "error: cycler() requires at least one argument"},
        {"{% set j = joiner() %}[{{ j() }}][{{ j() }}][{{ j(1) }}]", "", "[][, ][, ]"},
        {"{% set j = joiner('|') %}{{ j() }}{{ j() }}", "", "|"},
        {"{{ joiner(1) }}", "", "error: joiner separator must be a string"},
        {"{{ joiner(x=1) }}", "", "error: Unexpected keyword argument 'x' for filter."},
        {"{{ range }}", R"({"range": 5})", "[Function]"},
    });
}

TEST(GlobalsTest, Lipsum) {
    std::string three = outcome("{{ lipsum(1, false, 3, 3) }}");
    EXPECT_TRUE(std::regex_match(three, std::regex("[A-Z][a-z]* [a-z]+ [a-z]+\\."))) << three;
    std::string two = outcome("{{ lipsum(2) }}");
    EXPECT_TRUE(std::regex_match(two, std::regex("<p>[A-Z][a-z ]*\\.</p>\n<p>[A-Z][a-z ]*\\.</p>")))
        << two;
    EXPECT_EQ(outcome("{{ lipsum(0) }}|{{ lipsum(1, true, 0, 0) }}"), "|<p>.</p>");
    for (const char* bad : {"{{ lipsum(html=1) }}", "{{ lipsum(-1) }}",
                            "{{ lipsum(1, false, 5, 2) }}", "{{ lipsum(1, false, -2, 2) }}"})
        EXPECT_EQ(outcome(bad), "error: Invalid arguments for lipsum()") << bad;
}

TEST(GlobalsTest, RaiseException) {
    Template compiled("a{{ raise_exception('stop') }}");
    try {
        Interpreter::render(compiled.nodes(), Environment::make());
        FAIL() << "no exception";
    } catch (const TemplateException& e) {
        EXPECT_EQ(e.message(), std::optional<std::string>("stop"));
    }
    for (const char* text : {"{{ raise_exception() }}", "{{ raise_exception(5) }}"}) {
        try {
            Interpreter::render(Template(text).nodes(), Environment::make());
            FAIL() << "no exception";
        } catch (const TemplateException& e) {
            EXPECT_FALSE(e.message().has_value());
        }
    }
}

TEST(GlobalsTest, StrftimeNowMapsEveryDirectiveToItsField) {
    std::time_t now = std::time(nullptr);
    std::tm t{};
    localtime_r(&now, &t);
    char expected[256];
    // Fields with the same meaning as the C library's in the POSIX locale.
    std::strftime(expected, sizeof expected,
                  "%a %A %b %B %d %H %I %j %m %M %p %U %w %W %X %y %Y %z %Z %%", &t);
    std::string got = outcome(
        "{{ strftime_now('%a %A %b %B %d %H %I %j %m %M %p %U %w %W %X %y %Y %z %Z %%') }}");
    // Seconds may have ticked between the two readings; compare the rest.
    EXPECT_EQ(got.size(), std::string(expected).size());
    EXPECT_EQ(got.substr(0, 40), std::string(expected).substr(0, 40));
    EXPECT_EQ(outcome("{{ strftime_now('%Q%') }}|{{ strftime_now('') }}|{{ strftime_now('%%') "
                      "}}|{{ strftime_now(\"it's %Y\")[:5] }}"),
              "%Q%||%|it's ");
    std::string date = outcome("{{ strftime_now('%Y-%m-%d') }}");
    char today[16];
    std::strftime(today, sizeof today, "%Y-%m-%d", &t);
    EXPECT_EQ(date, today);
    EXPECT_TRUE(std::regex_match(outcome("{{ strftime_now('%c|%x') }}"),
                                 std::regex("[A-Z][a-z]{2} [A-Z][a-z]{2} \\d{1,2} "
                                            "\\d\\d:\\d\\d:\\d\\d \\d{4}\\|\\d\\d/\\d\\d/\\d{4}")));
    expectCases({
        {"{{ strftime_now() }}", "", "error: strftime_now takes exactly 1 argument"},
        {"{{ strftime_now(format='%Y') }}", "", "error: strftime_now takes exactly 1 argument"},
        {"{{ strftime_now(5) }}", "", "error: strftime_now format argument must be a string"},
    });
}

TEST(GlobalsTest, RootScopesHoldTheGlobals) {
    auto root =
        Environment::make(nullptr, testing::variablesFromJson(R"({"range": 5, "user": "ann"})"));
    EXPECT_TRUE((*root)["range"].isFunction());
    EXPECT_EQ((*root)["user"].asString(), "ann");
    auto child = Environment::make(root, testing::variablesFromJson(R"({"range": 5})"));
    EXPECT_EQ((*child)["range"].asInt(), 5);
    EXPECT_EQ(child->variables.size(), 1u);
    EXPECT_EQ(Globals::builtIn().size(), 8u);
}

TEST(GlobalsTest, ScopeChains) {
    auto root = Environment::make(nullptr, testing::variablesFromJson(R"({"x": 1, "y": 1})"));
    auto child = Environment::make(root, testing::variablesFromJson(R"({"y": 2})"));
    auto grandchild = Environment::make(child);
    EXPECT_TRUE((*grandchild)["nothing"].isUndefined());
    grandchild->setInChain("x", Value(10));
    grandchild->setInChain("y", Value(20));
    grandchild->setInChain("z", Value(30));
    EXPECT_EQ((*root)["x"].asInt(), 10);
    EXPECT_EQ((*root)["y"].asInt(), 1);
    EXPECT_EQ((*child)["y"].asInt(), 20);
    EXPECT_EQ((*root)["z"].asInt(), 30);
    EXPECT_TRUE(grandchild->variables.empty());
    child->set("x", Value::undefined());
    EXPECT_TRUE((*grandchild)["x"].isUndefined());
    EXPECT_FALSE(root->lstripBlocks || root->trimBlocks);
    // Releasing a very deep chain needs no deep recursion.
    auto deep = Environment::make();
    for (int i = 0; i < 100000; ++i)
        deep = Environment::make(deep);
    deep.reset();
}

} // namespace
} // namespace jinja
