#include "murmex/records/DecodingTask.h"

#include "murmex/base/JsonCoding.h"

namespace murmex {

std::string description(DecodingTask task) {
    return task == DecodingTask::translate ? "translate" : "transcribe";
}

yyjson_mut_val* encodeDecodingTask(json::Writer& writer, DecodingTask task) {
    yyjson_mut_val* object = writer.object();
    writer.add(object, description(task), writer.object());
    return object;
}

DecodingTask decodeDecodingTask(yyjson_val* value) {
    json::expectObject(value, "task");
    if (yyjson_obj_size(value) != 1) {
        throw json::CodingError(json::CodingError::Kind::typeMismatch,
                                "Invalid number of keys found, expected one.");
    }
    yyjson_obj_iter iter = yyjson_obj_iter_with(value);
    yyjson_val* key = yyjson_obj_iter_next(&iter);
    std::string_view name(yyjson_get_str(key), yyjson_get_len(key));
    json::expectObject(yyjson_obj_iter_get_val(key), name);
    for (DecodingTask task : allDecodingTasks) {
        if (description(task) == name) return task;
    }
    throw json::CodingError(json::CodingError::Kind::dataCorrupted,
                            "Cannot initialize DecodingTask from invalid case \"" +
                                std::string(name) + "\".");
}

} // namespace murmex
