#pragma once
// Forward declarations for the JSON coding hooks of the engine's records, so
// that their headers need not include yyjson.

struct yyjson_val;
struct yyjson_mut_val;

namespace murmex::json {
class Writer;
} // namespace murmex::json
