// Encoding throughput on generated English and Russian text of 4 MB (warm:
// the same tokenizer pass after pass; fresh: a new tokenizer for each pass),
// decoding throughput, and the load time of a byte-level BPE tokenizer with
// a 50k-entry vocabulary, 50k merges and the Whisper special tokens.
//
//   tokenizers_bench --benchmark_filter=.

#include "hub/YYJSONParser.h"
#include "tokenizers/AutoTokenizer.h"
#include "tokenizers/ByteEncoder.h"
#include "tokenizers/PreTrainedTokenizer.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <unordered_map>

namespace fs = std::filesystem;

namespace {

// Words made of random syllables, drawn with a Zipf-like distribution so that
// frequent words repeat as in real text and rare ones do not.
std::vector<std::string> lexicon(const std::vector<std::string>& syllables, std::size_t count,
                                 unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<std::size_t> pick(0, syllables.size() - 1), length(1, 4);
    std::set<std::string> seen;
    std::vector<std::string> words;
    while (words.size() < count) {
        std::string w;
        for (std::size_t n = length(rng); n > 0; --n)
            w += syllables[pick(rng)];
        if (seen.insert(w).second) words.push_back(w);
    }
    return words;
}

std::string generateText(const std::vector<std::string>& words, std::size_t bytes, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<double> weights(words.size());
    for (std::size_t k = 0; k < weights.size(); ++k)
        weights[k] = 1.0 / static_cast<double>(k + 1);
    std::discrete_distribution<std::size_t> zipf(weights.begin(), weights.end());
    std::uniform_int_distribution<int> roll(0, 99);
    std::string text;
    text.reserve(bytes + 64);
    bool sentenceStart = true;
    while (text.size() < bytes) {
        std::string w = words[zipf(rng)];
        if (sentenceStart && w.size() > 0 && static_cast<unsigned char>(w[0]) < 0x80)
            w[0] = static_cast<char>(std::toupper(w[0]));
        text += w;
        sentenceStart = false;
        const int r = roll(rng);
        if (r < 6)
            text += ",";
        else if (r < 11) {
            text += ".";
            sentenceStart = true;
        } else if (r < 12)
            text += " " + std::to_string(rng() % 2000);
        text += r == 99 ? "\n" : " ";
    }
    return text;
}

std::vector<std::string> englishSyllables() {
    std::vector<std::string> out;
    for (const char* c : {"b", "c", "d", "f", "g", "h", "k", "l", "m", "n", "p", "r", "s", "t", "v",
                          "w", "th", "st", "ch"})
        for (const char* v : {"a", "e", "i", "o", "u", "ea", "ou"})
            out.push_back(std::string(c) + v);
    return out;
}

std::vector<std::string> russianSyllables() {
    std::vector<std::string> out;
    for (const char* c :
         {"б", "в", "г", "д", "ж", "з", "к", "л", "м", "н", "п", "р", "с", "т", "ф", "х", "ч", "ш"})
        for (const char* v : {"а", "е", "и", "о", "у", "ы", "я", "ю"})
            out.push_back(std::string(c) + v);
    return out;
}

struct Fixture {
    std::string english, russian;
    fs::path folder;
    std::shared_ptr<tokenizers::Tokenizer> tokenizer;
    std::size_t vocabSize = 0, mergeCount = 0;

    Fixture() {
        const auto en = lexicon(englishSyllables(), 60000, 1),
                   ru = lexicon(russianSyllables(), 60000, 2);
        english = generateText(en, 4u << 20, 3);
        russian = generateText(ru, 4u << 20, 4);
        folder = fs::temp_directory_path() / ("zv-bench-tokenizer-" + std::to_string(::getpid()));
        writeTokenizer(en, ru);
        tokenizer = tokenizers::AutoTokenizer::fromModelFolder(folder);
    }
    ~Fixture() { fs::remove_all(folder); }

    // Merges from the most frequent words (alternating languages), each word
    // built left to right, until 50k merges.
    void writeTokenizer(const std::vector<std::string>& en, const std::vector<std::string>& ru) {
        const auto& bytes = tokenizers::byteEncoder();
        std::vector<std::string> vocab(bytes.begin(), bytes.end());
        std::set<std::string> known(vocab.begin(), vocab.end());
        std::vector<std::pair<std::string, std::string>> merges;
        auto add = [&](const std::string& utf8) {
            std::string current;
            for (unsigned char b : utf8) {
                const std::string& s = bytes[b];
                if (current.empty()) {
                    current = s;
                    continue;
                }
                const std::string joined = current + s;
                if (known.insert(joined).second) {
                    merges.emplace_back(current, s);
                    vocab.push_back(joined);
                }
                current = joined;
            }
        };
        for (std::size_t k = 0; merges.size() < 50000 && k < en.size(); ++k) {
            add(" " + en[k]);
            add(" " + ru[k]);
            add(en[k]);
        }
        merges.resize(std::min<std::size_t>(merges.size(), 50000));
        vocabSize = vocab.size();
        mergeCount = merges.size();

        auto quoted = [](const std::string& s) {
            std::string out = "\"";
            for (char c : s) {
                if (c == '"' || c == '\\') out += '\\';
                out += c;
            }
            return out + "\"";
        };
        std::string json = "{\"added_tokens\":[";
        int id = static_cast<int>(vocab.size());
        std::vector<std::string> specials = {
            "<|endoftext|>", "<|startoftranscript|>", "<|en|>",          "<|ru|>",
            "<|translate|>", "<|transcribe|>",        "<|notimestamps|>"};
        for (int step = 0; step <= 1500; ++step) {
            char text[24];
            std::snprintf(text, sizeof text, "<|%.2f|>", step * 0.02);
            specials.emplace_back(text);
        }
        for (std::size_t k = 0; k < specials.size(); ++k)
            json += (k ? "," : "") + std::string("{\"id\":") + std::to_string(id++) +
                    ",\"content\":" + quoted(specials[k]) + ",\"special\":true}";
        json += "],\"pre_tokenizer\":{\"type\":\"ByteLevel\",\"add_prefix_space\":false},"
                "\"decoder\":{\"type\":\"ByteLevel\"},\"model\":{\"type\":\"BPE\",\"vocab\":{";
        for (std::size_t k = 0; k < vocab.size(); ++k)
            json += (k ? "," : "") + quoted(vocab[k]) + ":" + std::to_string(k);
        json += "},\"merges\":[";
        for (std::size_t k = 0; k < merges.size(); ++k)
            json += (k ? "," : "") + quoted(merges[k].first + " " + merges[k].second);
        json += "]}}";
        fs::create_directories(folder);
        std::ofstream(folder / "tokenizer.json", std::ios::binary) << json;
        std::ofstream(folder / "tokenizer_config.json")
            << R"({"tokenizer_class":"WhisperTokenizer","unk_token":"<|endoftext|>","eos_token":"<|endoftext|>"})";
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

void encode(benchmark::State& state, const std::string& text) {
    const auto& tokenizer = *fixture().tokenizer;
    std::size_t tokens = 0;
    for (auto _ : state) {
        auto ids = tokenizer.encode(text, false);
        tokens = ids.size();
        benchmark::DoNotOptimize(ids.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.counters["tokens"] = static_cast<double>(tokens);
    state.counters["bytes_per_token"] =
        static_cast<double>(text.size()) / static_cast<double>(tokens);
}

void BM_EncodeEnglish(benchmark::State& state) {
    encode(state, fixture().english);
}
void BM_EncodeRussian(benchmark::State& state) {
    encode(state, fixture().russian);
}

// The same with a tokenizer built fresh for every pass, so that no piece is
// remembered from an earlier pass over the same text.
void encodeFresh(benchmark::State& state, const std::string& text) {
    for (auto _ : state) {
        state.PauseTiming();
        auto tokenizer = tokenizers::AutoTokenizer::fromModelFolder(fixture().folder);
        state.ResumeTiming();
        benchmark::DoNotOptimize(tokenizer->encode(text, false).data());
        state.PauseTiming();
        tokenizer.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_EncodeEnglishFresh(benchmark::State& state) {
    encodeFresh(state, fixture().english);
}
void BM_EncodeRussianFresh(benchmark::State& state) {
    encodeFresh(state, fixture().russian);
}

void BM_DecodeRussian(benchmark::State& state) {
    const auto& tokenizer = *fixture().tokenizer;
    const auto ids = tokenizer.encode(fixture().russian, false);
    for (auto _ : state)
        benchmark::DoNotOptimize(tokenizer.decode(ids));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fixture().russian.size()));
}

void BM_LoadFolder(benchmark::State& state) {
    const auto& f = fixture();
    for (auto _ : state)
        benchmark::DoNotOptimize(tokenizers::AutoTokenizer::fromModelFolder(f.folder));
    state.counters["vocab"] = static_cast<double>(f.vocabSize);
    state.counters["merges"] = static_cast<double>(f.mergeCount);
}

BENCHMARK(BM_EncodeEnglish)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeRussian)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeEnglishFresh)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeRussianFresh)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeRussian)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadFolder)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
