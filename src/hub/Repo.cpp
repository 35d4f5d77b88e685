#include "hub/Repo.h"

#include "hub/YYJSONParser.h"
#include "platform/system/CodingError.h"

#include <memory>
#include <yyjson.h>

namespace hub {

using platform::system::CodingError;

std::string Repo::toJson() const {
    std::unique_ptr<yyjson_mut_doc, decltype(&yyjson_mut_doc_free)> doc(yyjson_mut_doc_new(nullptr),
                                                                        &yyjson_mut_doc_free);
    yyjson_mut_val* root = yyjson_mut_obj(doc.get());
    yyjson_mut_doc_set_root(doc.get(), root);
    const std::string_view type = rawValue(this->type);
    yyjson_mut_obj_add_strn(doc.get(), root, "id", id.data(), id.size());
    yyjson_mut_obj_add_strn(doc.get(), root, "type", type.data(), type.size());
    std::size_t length = 0;
    std::unique_ptr<char, decltype(&free)> text(yyjson_mut_write(doc.get(), 0, &length), &free);
    if (!text) throw CodingError(CodingError::Kind::invalidValue, "cannot serialise repository");
    return std::string(text.get(), length);
}

Repo Repo::fromJson(std::string_view json) {
    using Kind = CodingError::Kind;
    Config config;
    try {
        config = YYJSONParser::parseToConfig(json);
    } catch (const YYJSONParser::ParseError& e) {
        throw CodingError(Kind::dataCorrupted,
                          std::string("The given data was not valid JSON: ") + e.what());
    }
    if (!config.dictionary())
        throw CodingError(Kind::typeMismatch, "Expected to decode a repository object");
    const Config::Dictionary& entries = *config.dictionary();
    auto text = [&](std::string_view key) -> const Config& {
        auto it = entries.find(key);
        if (it != entries.end() && it->second.binaryDistinctString()) return it->second;
        const Kind kind = it == entries.end()   ? Kind::keyNotFound
                          : it->second.isNull() ? Kind::valueNotFound
                                                : Kind::typeMismatch;
        throw CodingError(kind,
                          "Repository key \"" + std::string(key) + "\" is missing or not a text");
    };
    const Config& id = text("id");
    const Config& type = text("type");
    const auto kind = repoTypeFromRawValue(type.binaryDistinctString()->view());
    if (!kind)
        throw CodingError(Kind::dataCorrupted,
                          "Cannot initialize RepoType from invalid String value " +
                              type.string().value());
    return Repo{id.string().value(), *kind};
}

} // namespace hub
