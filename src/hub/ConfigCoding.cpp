// The JSON coding form of configuration values.

#include "hub/Config.h"
#include "hub/YYJSONParser.h"

#include <algorithm>
#include <cmath>
#include <fmt/format.h>
#include <memory>
#include <stdexcept>
#include <yyjson.h>

namespace hub {
namespace {

yyjson_mut_val* encode(yyjson_mut_doc* doc, const Config& value) {
    switch (value.kind()) {
    case Config::Kind::string: {
        const auto& text = value.binaryDistinctString()->str();
        return yyjson_mut_strncpy(doc, text.data(), text.size());
    }
    case Config::Kind::integer:
        return yyjson_mut_sint(doc, *value.integer());
    case Config::Kind::boolean:
        return yyjson_mut_bool(doc, *value.boolean());
    case Config::Kind::floating: {
        const float f = *value.floating();
        if (!std::isfinite(f))
            throw std::domain_error("cannot encode the non-finite number " + fmt::format("{}", f));
        const std::string text = fmt::format("{}", f);
        return yyjson_mut_rawncpy(doc, text.data(), text.size());
    }
    case Config::Kind::dictionary: {
        std::vector<const std::pair<const BinaryDistinctString, Config>*> entries;
        for (const auto& entry : *value.dictionary())
            entries.push_back(&entry);
        std::sort(entries.begin(), entries.end(),
                  [](auto* a, auto* b) { return a->first < b->first; });
        yyjson_mut_val* object = yyjson_mut_obj(doc);
        for (const auto* entry : entries) {
            const auto& key = entry->first.str();
            yyjson_mut_obj_add(object, yyjson_mut_strncpy(doc, key.data(), key.size()),
                               encode(doc, entry->second));
        }
        return object;
    }
    case Config::Kind::array: {
        yyjson_mut_val* array = yyjson_mut_arr(doc);
        for (const Config& element : *value.array())
            yyjson_mut_arr_append(array, encode(doc, element));
        return array;
    }
    case Config::Kind::token: {
        const auto token = *value.token();
        yyjson_mut_val* array = yyjson_mut_arr(doc);
        yyjson_mut_arr_append(array, yyjson_mut_uint(doc, token.id));
        yyjson_mut_arr_append(
            array, yyjson_mut_strncpy(doc, token.text.str().data(), token.text.str().size()));
        return array;
    }
    case Config::Kind::null:
        return yyjson_mut_null(doc);
    }
    return yyjson_mut_null(doc);
}

} // namespace

std::string Config::encodeJson() const {
    std::unique_ptr<yyjson_mut_doc, decltype(&yyjson_mut_doc_free)> doc(yyjson_mut_doc_new(nullptr),
                                                                        &yyjson_mut_doc_free);
    yyjson_mut_doc_set_root(doc.get(), encode(doc.get(), *this));
    std::size_t length = 0;
    std::unique_ptr<char, decltype(&free)> text(yyjson_mut_write(doc.get(), 0, &length), &free);
    if (!text) throw std::runtime_error("cannot write JSON");
    return std::string(text.get(), length);
}

Config Config::decodeJson(std::string_view json) {
    return YYJSONParser::parseToConfig(
        json, YYJSONParser::Options{.allowInfAndNaN = false, .pairsAsTokens = true});
}

} // namespace hub
