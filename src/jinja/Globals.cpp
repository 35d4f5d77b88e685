#include "jinja/Globals.h"

#include "jinja/CallArguments.h"
#include "jinja/Environment.h"
#include "jinja/JinjaError.h"
#include "jinja/RenderLimits.h"
#include "jinja/TemplateException.h"
#include "jinja/filters/UnicodeText.h"

#include <algorithm>
#include <ctime>
#include <mutex>
#include <random>

namespace jinja {

namespace {

using EnvPtr = std::shared_ptr<Environment>;
using Parameter = CallArguments::Parameter;

// ---- lipsum ---------------------------------------------------------------

constexpr std::string_view kLipsumWords[] = {"lorem",      "ipsum",        "dolor",
                                             "sit",        "amet",         "consectetur",
                                             "adipiscing", "elit",         "sed",
                                             "do",         "eiusmod",      "tempor",
                                             "incididunt", "ut",           "labore",
                                             "et",         "dolore",       "magna",
                                             "aliqua",     "enim",         "ad",
                                             "minim",      "veniam",       "quis",
                                             "nostrud",    "exercitation", "ullamco",
                                             "laboris",    "nisi",         "aliquip",
                                             "ex",         "ea",           "commodo",
                                             "consequat",  "duis",         "aute",
                                             "irure",      "in",           "reprehenderit",
                                             "voluptate",  "velit",        "esse",
                                             "cillum",     "fugiat",       "nulla",
                                             "pariatur",   "excepteur",    "sint",
                                             "occaecat",   "cupidatat",    "non",
                                             "proident",   "sunt",         "culpa",
                                             "qui",        "officia",      "deserunt",
                                             "mollit",     "anim",         "id",
                                             "est",        "laborum"};
static_assert(std::size(kLipsumWords) == 62);
constexpr std::size_t kLongestLipsumWord = 13;

// Uniform draw from [low, high] out of the system's secure random source.
std::int64_t draw(std::int64_t low, std::int64_t high) {
    thread_local std::random_device source;
    return std::uniform_int_distribution<std::int64_t>(low, high)(source);
}

// ---- strftime_now -------------------------------------------------------

constexpr const char* kWeekdayNames[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                         "Thursday", "Friday", "Saturday"};
constexpr const char* kMonthNames[] = {"January",   "February", "March",    "April",
                                       "May",       "June",     "July",     "August",
                                       "September", "October",  "November", "December"};

void appendPadded(std::string& out, long v, int width) {
    std::string digits = std::to_string(v < 0 ? -v : v);
    if (v < 0) out.push_back('-');
    for (int k = static_cast<int>(digits.size()); k < width; ++k)
        out.push_back('0');
    out += digits;
}

// Appends the field of one strftime directive; false when the directive is not one
// the engine knows, so the caller prints it as written. Fields follow the C
// library's meaning in the POSIX locale; %c and %x keep the engine's layouts
// ("Thu Dec 10 14:38:23 2026", "12/10/2026").
bool appendDirective(std::string& out, char c, const std::tm& t) {
    switch (c) {
    case 'a':
        out.append(kWeekdayNames[t.tm_wday], 3);
        return true;
    case 'A':
        out += kWeekdayNames[t.tm_wday];
        return true;
    case 'b':
        out.append(kMonthNames[t.tm_mon], 3);
        return true;
    case 'B':
        out += kMonthNames[t.tm_mon];
        return true;
    case 'c':
        out.append(kWeekdayNames[t.tm_wday], 3);
        out.push_back(' ');
        out.append(kMonthNames[t.tm_mon], 3);
        out.push_back(' ');
        out += std::to_string(t.tm_mday);
        out.push_back(' ');
        appendPadded(out, t.tm_hour, 2);
        out.push_back(':');
        appendPadded(out, t.tm_min, 2);
        out.push_back(':');
        appendPadded(out, t.tm_sec, 2);
        out.push_back(' ');
        appendPadded(out, t.tm_year + 1900L, 4);
        return true;
    case 'd':
        appendPadded(out, t.tm_mday, 2);
        return true;
    case 'H':
        appendPadded(out, t.tm_hour, 2);
        return true;
    case 'I':
        appendPadded(out, t.tm_hour % 12 == 0 ? 12 : t.tm_hour % 12, 2);
        return true;
    case 'j':
        appendPadded(out, t.tm_yday + 1, 3);
        return true;
    case 'm':
        appendPadded(out, t.tm_mon + 1, 2);
        return true;
    case 'M':
        appendPadded(out, t.tm_min, 2);
        return true;
    case 'p':
        out += t.tm_hour < 12 ? "AM" : "PM";
        return true;
    case 'S':
        appendPadded(out, t.tm_sec, 2);
        return true;
    // Week of the year with weeks starting on Sunday (%U) or Monday (%W); days
    // before the first such weekday fall in week 00.
    case 'U':
        appendPadded(out, (t.tm_yday + 7 - t.tm_wday) / 7, 2);
        return true;
    case 'W':
        appendPadded(out, (t.tm_yday + 7 - (t.tm_wday + 6) % 7) / 7, 2);
        return true;
    case 'w':
        out += std::to_string(t.tm_wday);
        return true;
    case 'x':
        appendPadded(out, t.tm_mon + 1, 2);
        out.push_back('/');
        appendPadded(out, t.tm_mday, 2);
        out.push_back('/');
        appendPadded(out, t.tm_year + 1900L, 4);
        return true;
    case 'X':
        appendPadded(out, t.tm_hour, 2);
        out.push_back(':');
        appendPadded(out, t.tm_min, 2);
        out.push_back(':');
        appendPadded(out, t.tm_sec, 2);
        return true;
    case 'y':
        appendPadded(out, (t.tm_year + 1900L) % 100, 2);
        return true;
    case 'Y':
        appendPadded(out, t.tm_year + 1900L, 4);
        return true;
    case 'z': {
        long off = t.tm_gmtoff;
        out.push_back(off < 0 ? '-' : '+');
        off = off < 0 ? -off : off;
        appendPadded(out, off / 3600, 2);
        appendPadded(out, (off / 60) % 60, 2);
        return true;
    }
    case 'Z':
        out += t.tm_zone ? t.tm_zone : "UTC";
        return true;
    case '%':
        out.push_back('%');
        return true;
    default:
        return false;
    }
}

std::string formatNow(std::string_view format) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::string out;
    std::size_t i = 0;
    while (i < format.size()) {
        std::size_t percent = format.find('%', i);
        if (percent == std::string_view::npos) {
            out.append(format.substr(i));
            break;
        }
        out.append(format.substr(i, percent - i));
        if (percent + 1 == format.size()) {
            out.push_back('%');
            break;
        }
        // The directive letter is one whole user-perceived character.
        std::vector<std::size_t> bounds = text::graphemeBoundaries(format.substr(percent + 1, 16));
        std::size_t length = bounds.size() > 1 ? bounds[1] : 1;
        std::string_view directive = format.substr(percent + 1, length);
        if (directive.size() != 1 || !appendDirective(out, directive[0], local)) {
            out.push_back('%');
            out.append(directive);
        }
        i = percent + 1 + length;
    }
    return out;
}

// ---- cycler and joiner ------------------------------------------------------

struct Cycler {
    Array items;
    std::mutex lock;
    std::size_t currentIndex = 0;
};

struct Joiner {
    std::string separator;
    std::mutex lock;
    bool first = true;
};

} // namespace

Value Globals::raiseException(const Array& args, const KeywordArguments& kwargs, const EnvPtr&) {
    static const Parameter params[] = {{"message", Value()}};
    CallArguments bound = CallArguments::bind(params, args, kwargs);
    if (bound[0].isString()) throw TemplateException(bound[0].asString());
    throw TemplateException(std::nullopt);
}

Globals::RangeBounds Globals::rangeBounds(const Array& args) {
    std::int64_t start = 0, stop = 0, step = 1;
    switch (args.size()) {
    case 1:
        if (!args[0].isInt()) throw JinjaError::runtime("range() stop argument must be an integer");
        stop = args[0].asInt();
        break;
    case 2:
    case 3:
        for (const Value& a : args)
            if (!a.isInt()) throw JinjaError::runtime("range() arguments must be integers");
        start = args[0].asInt();
        stop = args[1].asInt();
        if (args.size() == 3) step = args[2].asInt();
        if (step == 0) throw JinjaError::runtime("range() step argument must not be zero");
        break;
    default:
        throw JinjaError::runtime("range() takes 1 to 3 arguments");
    }
    // The length is computed first, in 128 bits, so that neither a huge range
    // nor a value next to the end of the integer range is ever walked.
    using Wide = __int128;
    Wide span = step > 0 ? Wide(stop) - start : Wide(start) - stop;
    Wide stride = step > 0 ? Wide(step) : -Wide(step);
    Wide count = span <= 0 ? 0 : (span + stride - 1) / stride;
    if (count > Wide(RenderLimits::current().maxItems)) RenderLimits::checkItems(std::size_t(-1));
    return {start, step, static_cast<std::size_t>(count)};
}

Value Globals::range(const Array& args, const KeywordArguments&, const EnvPtr&) {
    const RangeBounds bounds = rangeBounds(args);
    Array values;
    values.reserve(bounds.count);
    for (std::size_t k = 0; k < bounds.count; ++k)
        values.emplace_back(bounds.at(k));
    return Value(std::move(values));
}

Value Globals::lipsum(const Array& args, const KeywordArguments& kwargs, const EnvPtr&) {
    static const Parameter params[] = {
        {"n", Value(5)}, {"html", Value(true)}, {"min", Value(20)}, {"max", Value(100)}};
    CallArguments bound = CallArguments::bind(params, args, kwargs);
    const Value &n = bound[0], &html = bound[1], &min = bound[2], &max = bound[3];
    // Negative counts and an empty word range have no meaningful text.
    if (!n.isInt() || !html.isBoolean() || !min.isInt() || !max.isInt() || n.asInt() < 0 ||
        min.asInt() < 0 || max.asInt() < min.asInt())
        throw JinjaError::runtime("Invalid arguments for lipsum()");
    const auto paragraphs = static_cast<std::size_t>(n.asInt());
    const auto most = static_cast<std::size_t>(max.asInt());
    // Every paragraph may hold `max` words of the longest length.
    RenderLimits::checkBytes(most);
    RenderLimits::checkBytes(paragraphs, most * (kLongestLipsumWord + 1) + 16);
    const bool asHtml = html.asBool();
    std::string out;
    for (std::size_t p = 0; p < paragraphs; ++p) {
        if (p > 0) out += asHtml ? "\n" : "\n\n";
        std::int64_t words = draw(min.asInt(), max.asInt());
        std::string paragraph;
        for (std::int64_t w = 0; w < words; ++w) {
            if (w > 0) paragraph.push_back(' ');
            paragraph +=
                kLipsumWords[static_cast<std::size_t>(draw(0, std::size(kLipsumWords) - 1))];
        }
        paragraph = text::upperFirst(paragraph) + ".";
        out += asHtml ? "<p>" + paragraph + "</p>" : paragraph;
    }
    return Value(std::move(out));
}

Value Globals::dict(const Array&, const KeywordArguments& kwargs, const EnvPtr&) {
    std::vector<const KeywordArguments::value_type*> entries;
    entries.reserve(kwargs.size());
    for (const auto& entry : kwargs)
        entries.push_back(&entry);
    std::sort(entries.begin(), entries.end(), [](auto* a, auto* b) { return a->first < b->first; });
    Object object;
    object.reserve(entries.size());
    for (const auto* entry : entries)
        object.insert_or_assign(ObjectKey(entry->first), entry->second);
    Value result(std::move(object));
    RenderLimits::checkValueSize(result);
    return result;
}

Value Globals::cycler(const Array& args, const KeywordArguments&, const EnvPtr&) {
    if (args.empty()) throw JinjaError::runtime("cycler() requires at least one argument");
    auto state = std::make_shared<Cycler>();
    state->items = args;
    Object object;
    {
        std::lock_guard guard(state->lock);
        object.insert_or_assign(ObjectKey("current"), state->items.front());
    }
    object.insert_or_assign(
        ObjectKey("next"),
        Value(Function([state](const Array&, const KeywordArguments&, const EnvPtr&) {
            std::lock_guard guard(state->lock);
            Value item = state->items[state->currentIndex];
            state->currentIndex =
                state->currentIndex + 1 == state->items.size() ? 0 : state->currentIndex + 1;
            return item;
        })));
    object.insert_or_assign(
        ObjectKey("reset"),
        Value(Function([state](const Array&, const KeywordArguments&, const EnvPtr&) {
            std::lock_guard guard(state->lock);
            state->currentIndex = 0;
            return Value();
        })));
    return Value(std::move(object));
}

Value Globals::joiner(const Array& args, const KeywordArguments& kwargs, const EnvPtr&) {
    static const Parameter params[] = {{"sep", Value(", ")}};
    CallArguments bound = CallArguments::bind(params, args, kwargs);
    if (!bound[0].isString()) throw JinjaError::runtime("joiner separator must be a string");
    auto state = std::make_shared<Joiner>();
    state->separator = bound[0].asString();
    return Value(Function([state](const Array&, const KeywordArguments&, const EnvPtr&) {
        std::lock_guard guard(state->lock);
        if (state->first) {
            state->first = false;
            return Value(std::string());
        }
        return Value(state->separator);
    }));
}

Value Globals::strftimeNow(const Array& args, const KeywordArguments&, const EnvPtr&) {
    if (args.size() != 1) throw JinjaError::runtime("strftime_now takes exactly 1 argument");
    if (!args[0].isString())
        throw JinjaError::runtime("strftime_now format argument must be a string");
    return Value(formatNow(args[0].asString()));
}

const std::vector<std::pair<std::string, Value>>& Globals::builtIn() {
    static const std::vector<std::pair<std::string, Value>> table = {
        {"raise_exception", Value(Function(&Globals::raiseException))},
        {"range", Value(Function(&Globals::range))},
        {"lipsum", Value(Function(&Globals::lipsum))},
        {"dict", Value(Function(&Globals::dict))},
        {"cycler", Value(Function(&Globals::cycler))},
        {"joiner", Value(Function(&Globals::joiner))},
        {"namespace", Value(Function(&Globals::dict))},
        {"strftime_now", Value(Function(&Globals::strftimeNow))},
    };
    return table;
}

} // namespace jinja
