// Conversion of configuration values to template values, kept apart from
// Config.cpp so that only this file needs the template engine.

#include "hub/Config.h"
#include "jinja/Value.h"

#include <cstdlib>
#include <fmt/format.h>
#include <tsl/ordered_map.h>

namespace hub {

jinja::Value Config::jinjaValue() const {
    switch (kind()) {
    case Kind::string:
        return jinja::Value(std::get<0>(data_).str());
    case Kind::integer:
        return jinja::Value(std::get<1>(data_));
    case Kind::boolean:
        return jinja::Value(std::get<2>(data_));
    case Kind::floating: {
        // The float's shortest decimal text read back as a double, so a
        // stored 0.1 becomes 0.1 and not 0.100000001490116...
        const float f = std::get<3>(data_);
        const std::string text = fmt::format("{}", f);
        char* end = nullptr;
        const double d = std::strtod(text.c_str(), &end);
        return jinja::Value(end && *end == '\0' ? d : static_cast<double>(f));
    }
    case Kind::dictionary: {
        tsl::ordered_map<std::string, jinja::Value> entries;
        for (const auto& [key, value] : *dictionary())
            entries.insert_or_assign(key.str(), value.jinjaValue());
        return jinja::Value::object(entries);
    }
    case Kind::array: {
        jinja::Array elements;
        elements.reserve(array()->size());
        for (const Config& element : *array())
            elements.push_back(element.jinjaValue());
        return jinja::Value(std::move(elements));
    }
    case Kind::token: {
        const Token& t = std::get<6>(data_);
        return jinja::Value::fromDictionaryLiteral(
            std::vector<std::pair<std::string, jinja::Value>>{
                {std::to_string(t.id), jinja::Value(t.text.str())}});
    }
    case Kind::null:
        return jinja::Value();
    }
    return jinja::Value();
}

} // namespace hub
