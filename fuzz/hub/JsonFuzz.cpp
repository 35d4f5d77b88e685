// Feeds arbitrary bytes to the JSON reader and walks whatever it accepts
// through every recursive operation of the configuration value.

#include "hub/YYJSONParser.h"
#include "jinja/Value.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    try {
        const hub::Config config = hub::YYJSONParser::parseToConfig(bytes);
        (void)config.description();
        (void)config.hash();
        (void)(config == config);
        (void)config["tokenizerClass"].string();
        (void)config.at(0).token();
        (void)config.stringArray();
        (void)config.jinjaValue();
    } catch (const hub::YYJSONParser::ParseError&) {
    }
    return 0;
}
