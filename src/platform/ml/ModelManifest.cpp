#include "platform/ml/ModelManifest.h"

#include "platform/ml/ModelError.h"

#include <fstream>
#include <limits>
#include <memory>
#include <set>
#include <sstream>
#include <yyjson.h>

namespace platform::ml {

namespace {

struct DocumentDeleter {
    void operator()(yyjson_doc* doc) const { yyjson_doc_free(doc); }
};
struct MutableDocumentDeleter {
    void operator()(yyjson_mut_doc* doc) const { yyjson_mut_doc_free(doc); }
};

[[noreturn]] void fail(const std::filesystem::path& file, const std::string& problem) {
    throw ModelError(ModelError::Kind::invalidFormat,
                     "Invalid model file " + file.string() + ": " + problem);
}

int64_t readInteger(yyjson_val* value, const std::filesystem::path& file, const std::string& what) {
    if (yyjson_is_uint(value)) {
        uint64_t v = yyjson_get_uint(value);
        if (v > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
            fail(file, what + " is too large");
        return static_cast<int64_t>(v);
    }
    if (yyjson_is_sint(value)) return yyjson_get_sint(value);
    fail(file, what + " must be an integer");
}

std::string readString(yyjson_val* object, const char* key, const std::filesystem::path& file,
                       const std::string& where) {
    yyjson_val* value = yyjson_obj_get(object, key);
    if (!yyjson_is_str(value)) fail(file, where + " lacks the text \"" + key + "\"");
    return std::string(yyjson_get_str(value), yyjson_get_len(value));
}

std::vector<int64_t> readShape(yyjson_val* object, const std::filesystem::path& file,
                               const std::string& where) {
    yyjson_val* shape = yyjson_obj_get(object, "shape");
    if (!yyjson_is_arr(shape)) fail(file, where + " lacks the list \"shape\"");
    std::vector<int64_t> result;
    size_t index, count;
    yyjson_val* item;
    yyjson_arr_foreach(shape, index, count, item) {
        int64_t dimension = readInteger(item, file, where + " shape entry");
        if (dimension <= 0 || dimension > (int64_t{1} << 40))
            fail(file, where + " has a dimension out of range");
        result.push_back(dimension);
    }
    if (result.empty() || result.size() > 8) fail(file, where + " must have 1 to 8 dimensions");
    // Element counts are computed in 64 bits everywhere; keep them far from overflow.
    int64_t elements = 1;
    for (int64_t dimension : result) {
        if (elements > (int64_t{1} << 40) / dimension) fail(file, where + " has too many elements");
        elements *= dimension;
    }
    return result;
}

ElementType readElementType(yyjson_val* object, const std::filesystem::path& file,
                            const std::string& where) {
    std::string name = readString(object, "dataType", file, where);
    auto type = elementTypeFromName(name);
    if (!type) fail(file, where + " has the unknown data type \"" + name + "\"");
    return *type;
}

std::vector<FeatureDescription> readFeatures(yyjson_val* root, const char* key,
                                             const std::filesystem::path& file) {
    yyjson_val* list = yyjson_obj_get(root, key);
    if (!yyjson_is_arr(list)) fail(file, std::string("the list \"") + key + "\" is missing");
    std::vector<FeatureDescription> result;
    std::set<std::string> seen;
    size_t index, count;
    yyjson_val* item;
    yyjson_arr_foreach(list, index, count, item) {
        std::string where = std::string(key) + " entry " + std::to_string(index);
        if (!yyjson_is_obj(item)) fail(file, where + " is not an object");
        FeatureDescription feature;
        feature.name = readString(item, "name", file, where);
        where = std::string(key) + " \"" + feature.name + "\"";
        if (!seen.insert(feature.name).second) fail(file, where + " is listed twice");
        feature.type = FeatureType::multiArray;
        feature.isOptional = yyjson_get_bool(yyjson_obj_get(item, "optional"));
        feature.multiArrayConstraint =
            MultiArrayConstraint{readShape(item, file, where), readElementType(item, file, where)};
        result.push_back(std::move(feature));
    }
    return result;
}

void flattenIntegers(yyjson_val* value, std::vector<int64_t>& out,
                     const std::filesystem::path& file, const std::string& what, int depth) {
    if (depth > 4) fail(file, what + " is nested too deeply");
    if (yyjson_is_arr(value)) {
        size_t index, count;
        yyjson_val* item;
        yyjson_arr_foreach(value, index, count, item)
            flattenIntegers(item, out, file, what, depth + 1);
        return;
    }
    out.push_back(readInteger(value, file, what));
}

} // namespace

int64_t WeightEntry::count() const {
    int64_t result = 1;
    for (int64_t dimension : shape)
        result *= dimension;
    return result;
}

ModelManifest ModelManifest::read(const std::filesystem::path& folder) {
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error)) {
        throw ModelError(ModelError::Kind::notFound, "Model folder not found: " + folder.string());
    }
    std::filesystem::path file = folder / kManifestFileName;
    std::ifstream stream(file, std::ios::binary);
    if (!stream) {
        throw ModelError(ModelError::Kind::notFound,
                         "Model description not found: " + file.string() +
                             " (not a model folder of this runtime)");
    }
    std::ostringstream buffer;
    buffer << stream.rdbuf();
    std::string text = buffer.str();
    if (text.size() > (size_t{64} << 20)) fail(file, "the description is too large");

    yyjson_read_err readError{};
    std::unique_ptr<yyjson_doc, DocumentDeleter> doc(
        yyjson_read_opts(text.data(), text.size(), YYJSON_READ_NOFLAG, nullptr, &readError));
    if (!doc) {
        fail(file, std::string("bad JSON at byte ") + std::to_string(readError.pos) + ": " +
                       (readError.msg ? readError.msg : "unknown error"));
    }
    yyjson_val* root = yyjson_doc_get_root(doc.get());
    if (!yyjson_is_obj(root)) fail(file, "the top level is not an object");

    yyjson_val* format = yyjson_obj_get(root, "format");
    if (!yyjson_is_str(format) || std::string(yyjson_get_str(format)) != kFormatName) {
        fail(file, std::string("not a model of this runtime (\"format\" is not \"") + kFormatName +
                       "\")");
    }
    ModelManifest manifest;
    yyjson_val* version = yyjson_obj_get(root, "formatVersion");
    manifest.formatVersion = static_cast<int>(readInteger(version, file, "\"formatVersion\""));
    if (manifest.formatVersion != kFormatVersion) {
        fail(file,
             "format version " + std::to_string(manifest.formatVersion) + " is not supported");
    }
    manifest.kind = readString(root, "kind", file, "the model");
    manifest.inputs = readFeatures(root, "inputs", file);
    manifest.outputs = readFeatures(root, "outputs", file);

    if (yyjson_val* parameters = yyjson_obj_get(root, "hyperParameters")) {
        if (!yyjson_is_obj(parameters)) fail(file, "\"hyperParameters\" is not an object");
        size_t index, count;
        yyjson_val *key, *value;
        yyjson_obj_foreach(parameters, index, count, key, value) {
            std::string name(yyjson_get_str(key), yyjson_get_len(key));
            std::vector<int64_t> values;
            flattenIntegers(value, values, file, "hyper-parameter \"" + name + "\"", 0);
            manifest.hyperParameters[name] = std::move(values);
        }
    }

    yyjson_val* weights = yyjson_obj_get(root, "weights");
    if (!yyjson_is_arr(weights)) fail(file, "the list \"weights\" is missing");
    std::set<std::string> seen;
    size_t index, count;
    yyjson_val* item;
    yyjson_arr_foreach(weights, index, count, item) {
        std::string where = "weight entry " + std::to_string(index);
        if (!yyjson_is_obj(item)) fail(file, where + " is not an object");
        WeightEntry entry;
        entry.name = readString(item, "name", file, where);
        where = "weight \"" + entry.name + "\"";
        if (!seen.insert(entry.name).second) fail(file, where + " is listed twice");
        entry.dataType = readElementType(item, file, where);
        entry.shape = readShape(item, file, where);
        int64_t offset = readInteger(yyjson_obj_get(item, "offset"), file, where + " offset");
        if (offset < 0 || offset % static_cast<int64_t>(kWeightAlignment) != 0) {
            fail(file, where + " has an offset that is not a multiple of " +
                           std::to_string(kWeightAlignment));
        }
        entry.offset = static_cast<uint64_t>(offset);
        manifest.weights.push_back(std::move(entry));
    }
    return manifest;
}

std::optional<int64_t> ModelManifest::integer(const std::string& name) const {
    auto it = hyperParameters.find(name);
    if (it == hyperParameters.end() || it->second.size() != 1) return std::nullopt;
    return it->second.front();
}

const WeightEntry* ModelManifest::weight(const std::string& name) const {
    for (const WeightEntry& entry : weights) {
        if (entry.name == name) return &entry;
    }
    return nullptr;
}

std::string ModelManifest::toJson() const {
    std::unique_ptr<yyjson_mut_doc, MutableDocumentDeleter> doc(yyjson_mut_doc_new(nullptr));
    yyjson_mut_doc* d = doc.get();
    yyjson_mut_val* root = yyjson_mut_obj(d);
    yyjson_mut_doc_set_root(d, root);
    yyjson_mut_obj_add_str(d, root, "format", kFormatName);
    yyjson_mut_obj_add_int(d, root, "formatVersion", formatVersion);
    yyjson_mut_obj_add_strcpy(d, root, "kind", kind.c_str());

    auto shapeArray = [&](const std::vector<int64_t>& shape) {
        yyjson_mut_val* array = yyjson_mut_arr(d);
        for (int64_t dimension : shape)
            yyjson_mut_arr_add_int(d, array, dimension);
        return array;
    };
    auto addFeatures = [&](const char* key, const std::vector<FeatureDescription>& features) {
        yyjson_mut_val* list = yyjson_mut_arr(d);
        for (const FeatureDescription& feature : features) {
            yyjson_mut_val* object = yyjson_mut_obj(d);
            yyjson_mut_obj_add_strcpy(d, object, "name", feature.name.c_str());
            const MultiArrayConstraint& constraint = feature.multiArrayConstraint.value();
            yyjson_mut_obj_add_strcpy(d, object, "dataType",
                                      std::string(elementTypeName(constraint.dataType)).c_str());
            yyjson_mut_obj_add_val(d, object, "shape", shapeArray(constraint.shape));
            if (feature.isOptional) yyjson_mut_obj_add_bool(d, object, "optional", true);
            yyjson_mut_arr_append(list, object);
        }
        yyjson_mut_obj_add_val(d, root, key, list);
    };
    addFeatures("inputs", inputs);
    addFeatures("outputs", outputs);

    yyjson_mut_val* parameters = yyjson_mut_obj(d);
    for (const auto& [name, values] : hyperParameters) {
        yyjson_mut_val* key = yyjson_mut_strcpy(d, name.c_str());
        yyjson_mut_val* value =
            values.size() == 1 ? yyjson_mut_int(d, values.front()) : shapeArray(values);
        yyjson_mut_obj_add(parameters, key, value);
    }
    yyjson_mut_obj_add_val(d, root, "hyperParameters", parameters);

    yyjson_mut_val* weightList = yyjson_mut_arr(d);
    for (const WeightEntry& entry : weights) {
        yyjson_mut_val* object = yyjson_mut_obj(d);
        yyjson_mut_obj_add_strcpy(d, object, "name", entry.name.c_str());
        yyjson_mut_obj_add_strcpy(d, object, "dataType",
                                  std::string(elementTypeName(entry.dataType)).c_str());
        yyjson_mut_obj_add_val(d, object, "shape", shapeArray(entry.shape));
        yyjson_mut_obj_add_uint(d, object, "offset", entry.offset);
        yyjson_mut_arr_append(weightList, object);
    }
    yyjson_mut_obj_add_val(d, root, "weights", weightList);

    size_t length = 0;
    char* json = yyjson_mut_write(d, YYJSON_WRITE_PRETTY_TWO_SPACES, &length);
    if (!json) throw std::bad_alloc();
    std::string result(json, length);
    std::free(json);
    result += '\n';
    return result;
}

} // namespace platform::ml
