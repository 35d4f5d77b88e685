#include "tokenizers/RegexClasses.h"

#include "platform/text/CharacterSets.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <cstdio>
#include <map>
#include <mutex>
#include <optional>
#include <pcre2.h>

namespace tokenizers::detail {
namespace text = platform::text;
namespace {

// "major.minor" as a comparable pair; absent for other text.
std::optional<std::pair<int, int>> versionOf(std::string_view version) {
    int major = 0, minor = 0;
    if (std::sscanf(std::string(version).c_str(), "%d.%d", &major, &minor) != 2)
        return std::nullopt;
    return std::pair{major, minor};
}

// PCRE2's Unicode version as "major.minor" when it is not newer than ICU's:
// the characters PCRE2's tables lack are then those assigned after it. When
// PCRE2 is the newer one, its properties hold characters ICU does not know
// and no class is left to it.
const std::optional<std::string>& pcreVersionBehindIcu() {
    static const std::optional<std::string> version = []() -> std::optional<std::string> {
        char buffer[32] = {};
        if (pcre2_config(PCRE2_CONFIG_UNICODE_VERSION, buffer) < 0) return std::nullopt;
        const auto pcre = versionOf(buffer);
        const auto icu = versionOf(text::unicodeVersion());
        if (!pcre || !icu || *pcre > *icu) return std::nullopt;
        return std::to_string(pcre->first) + "." + std::to_string(pcre->second);
    }();
    return version;
}

bool pcreKnowsProperty(const std::string& name) {
    const std::string pattern = "\\p{" + name + "}";
    int error = 0;
    PCRE2_SIZE offset = 0;
    pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                                     PCRE2_UTF | PCRE2_UCP, &error, &offset, nullptr);
    pcre2_code_free(code);
    return code != nullptr;
}

void appendCodePoint(std::string& out, char32_t cp) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "\\x{%X}", static_cast<unsigned>(cp));
    out += buffer;
}

void appendRange(std::string& out, char32_t first, char32_t last) {
    appendCodePoint(out, first);
    if (last == first) return;
    if (last > first + 1) out += '-';
    appendCodePoint(out, last);
}

// Class items for the ranges. Surrogates never occur in UTF-8 text (and
// PCRE2 refuses them in a pattern): they are left out. An empty set is
// written as the surrogate category, which matches nothing.
std::string itemsOf(const std::vector<text::CodePointRange>& ranges) {
    std::string out;
    for (const auto& r : ranges) {
        if (r.last < 0xD800 || r.first > 0xDFFF) {
            appendRange(out, r.first, r.last);
            continue;
        }
        if (r.first < 0xD800) appendRange(out, r.first, 0xD7FF);
        if (r.last > 0xDFFF) appendRange(out, 0xE000, r.last);
    }
    return out.empty() ? "\\p{Cs}" : out;
}

ClassForms explicitForms(const std::string& matchingItems, const std::string& notMatchingItems) {
    return ClassForms{"[" + matchingItems + "]", "[^" + matchingItems + "]", matchingItems,
                      notMatchingItems};
}

std::optional<ClassForms> buildPropertyClass(const std::string& name) {
    const auto category = text::generalCategoryName(name);
    const auto& pcreVersion = pcreVersionBehindIcu();
    // A general category that holds no unassigned character: PCRE2 treats
    // the characters newer than its tables as unassigned, so its own
    // property lacks exactly those.
    if (category && *category != "C" && *category != "Cn" && pcreVersion &&
        pcreKnowsProperty(*category)) {
        const auto newer =
            text::codePointRanges("[\\p{" + name + "}-\\p{Age=" + *pcreVersion + "}]");
        if (newer) {
            const std::string native = "\\p{" + *category + "}";
            if (newer->empty())
                return ClassForms{native, "\\P{" + *category + "}", native,
                                  "\\P{" + *category + "}"};
            const auto complement = text::codePointRanges("[\\P{" + name + "}]");
            if (complement) {
                // Inside a class the complement cannot be PCRE2's \P{} minus
                // the newer characters: it is written out.
                return explicitForms(native + itemsOf(*newer), itemsOf(*complement));
            }
        }
    }
    const auto set = text::codePointRanges("[\\p{" + name + "}]");
    const auto complement = text::codePointRanges("[\\P{" + name + "}]");
    if (!set || !complement) return std::nullopt;
    return explicitForms(itemsOf(*set), itemsOf(*complement));
}

} // namespace

const ClassForms* propertyClass(std::string_view name) {
    static std::mutex mutex;
    static std::map<std::string, std::optional<ClassForms>, std::less<>> built;
    std::lock_guard lock(mutex);
    auto it = built.find(name);
    if (it == built.end())
        it = built.emplace(std::string(name), buildPropertyClass(std::string(name))).first;
    return it->second ? &*it->second : nullptr;
}

const ClassForms& wordClass() {
    static const ClassForms forms = [] {
        std::string items;
        for (const char* name : {"Alphabetic", "M", "Nd", "Pc"})
            items += propertyClass(name)->matchingItems;
        items += "\\x{200C}\\x{200D}";
        const auto complement =
            text::codePointRanges("[^\\p{Alphabetic}\\p{M}\\p{Nd}\\p{Pc}\\u200C\\u200D]");
        return explicitForms(items, complement ? itemsOf(*complement) : "\\W");
    }();
    return forms;
}

} // namespace tokenizers::detail
