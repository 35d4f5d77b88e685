#include "ChatTemplates.h"
#include "jinja/Lexer.h"
#include "jinja/Parser.h"
#include "jinja/Template.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <vector>

namespace {

// The fastest repetition: on a busy machine the least disturbed one.
double minimum(const std::vector<double>& v) {
    return *std::min_element(v.begin(), v.end());
}

using jinja::bench::typicalChatTemplate;

void BM_TokenizeChatTemplate(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(jinja::Lexer::tokenize(typicalChatTemplate));
}
BENCHMARK(BM_TokenizeChatTemplate);

void BM_ParseChatTemplateTokens(benchmark::State& state) {
    auto tokens = jinja::Lexer::tokenize(typicalChatTemplate);
    for (auto _ : state)
        benchmark::DoNotOptimize(jinja::Parser::parse(tokens));
}
BENCHMARK(BM_ParseChatTemplateTokens);

void BM_CompileChatTemplate(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(jinja::Template(typicalChatTemplate));
}
BENCHMARK(BM_CompileChatTemplate)->ComputeStatistics("min", minimum);

void BM_CompileChatTemplateWithOptions(benchmark::State& state) {
    jinja::Template::Options options{true, true};
    for (auto _ : state)
        benchmark::DoNotOptimize(jinja::Template(typicalChatTemplate, options));
}
BENCHMARK(BM_CompileChatTemplateWithOptions);

} // namespace

BENCHMARK_MAIN();
