#include "hub/Repo.h"

#include "hub/YYJSONParser.h"

#include <memory>
#include <stdexcept>
#include <yyjson.h>

namespace hub {

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
    if (!text) throw std::runtime_error("cannot serialise repository");
    return std::string(text.get(), length);
}

Repo Repo::fromJson(std::string_view json) {
    Config config;
    try {
        config = YYJSONParser::parseToConfig(json);
    } catch (const YYJSONParser::ParseError& e) {
        throw std::invalid_argument(std::string("The given data was not valid JSON: ") + e.what());
    }
    if (!config.dictionary()) throw std::invalid_argument("Expected to decode a repository object");
    const Config& id = config["id"];
    const Config& type = config["type"];
    if (!id.binaryDistinctString())
        throw std::invalid_argument("Repository key \"id\" is missing or not a text");
    if (!type.binaryDistinctString())
        throw std::invalid_argument("Repository key \"type\" is missing or not a text");
    const auto kind = repoTypeFromRawValue(type.binaryDistinctString()->view());
    if (!kind)
        throw std::invalid_argument("Cannot initialize RepoType from invalid String value " +
                                    type.string().value());
    return Repo{id.string().value(), *kind};
}

} // namespace hub
