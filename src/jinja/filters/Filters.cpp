#include "jinja/filters/Filters.h"

#include "jinja/PropertyMembers.h"
#include "jinja/filters/FilterRows.h"

#include <unordered_map>

namespace jinja {

namespace {

struct Table {
    std::vector<std::pair<std::string_view, Filters::FilterFunction>> rows;
    std::unordered_map<std::string_view, Filters::FilterFunction> byName;
};

const Table& table() {
    static const Table t = [] {
        using namespace filters;
        constexpr std::string_view order[] = {"upper",       "lower",      "length",
                                              "count",       "join",       "default",
                                              "d",           "first",      "last",
                                              "random",      "reverse",    "sort",
                                              "groupby",     "slice",      "map",
                                              "select",      "reject",     "selectattr",
                                              "rejectattr",  "attr",       "dictsort",
                                              "forceescape", "safe",       "striptags",
                                              "format",      "wordwrap",   "filesizeformat",
                                              "xmlattr",     "string",     "trim",
                                              "escape",      "e",          "tojson",
                                              "abs",         "capitalize", "center",
                                              "float",       "int",        "list",
                                              "max",         "min",        "round",
                                              "title",       "wordcount",  "replace",
                                              "urlencode",   "batch",      "sum",
                                              "truncate",    "unique",     "indent",
                                              "items",       "pprint",     "urlize"};
        Table table;
        for (auto rows : {stringFilterRows(), sequenceFilterRows(), sortingFilterRows(),
                          numericFilterRows(), formattingFilterRows(), selectionFilterRows()})
            for (const FilterRow& row : rows)
                table.byName.emplace(row.name, row.function);
        for (std::string_view name : order)
            table.rows.emplace_back(name, table.byName.at(name));
        return table;
    }();
    return t;
}

} // namespace

Filters::FilterFunction Filters::find(std::string_view name) {
    const auto& byName = table().byName;
    auto it = byName.find(name);
    return it == byName.end() ? nullptr : it->second;
}

const std::vector<std::pair<std::string_view, Filters::FilterFunction>>& Filters::builtIn() {
    return table().rows;
}

Value Filters::resolveAttributeValue(const Value& item, const Value& attribute) {
    if (attribute.isInt()) {
        std::int64_t n = attribute.asInt();
        if (item.isObject()) {
            const Object& object = item.asObject();
            auto it = object.find(ObjectKey(n));
            if (it != object.end()) return it->second;
            const Value* v = objectGet(object, std::to_string(n));
            return v ? *v : Value::undefined();
        }
        if (item.isArray()) {
            const Array& a = item.asArray();
            return n >= 0 && static_cast<std::uint64_t>(n) < a.size()
                       ? a[static_cast<std::size_t>(n)]
                       : Value::undefined();
        }
        return Value::undefined();
    }
    if (attribute.isString()) return PropertyMembers::evaluate(item, attribute.asString());
    return Value::undefined();
}

} // namespace jinja
