#include "murmex/base/TextUtilities.h"

#include "tessary_core/Logging.h"

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>
#include <zlib.h>

namespace murmex {
namespace {

constexpr float kInfinity = std::numeric_limits<float>::infinity();

// Raw deflate stream (no zlib header or checksum) at level 5, the form the
// compression-ratio threshold of 2.4 was tuned against.
std::optional<size_t> deflatedSize(const unsigned char* bytes, size_t count, std::string& error) {
    z_stream stream{};
    if (deflateInit2(&stream, 5, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        error = "deflate initialisation failed";
        return std::nullopt;
    }
    std::vector<unsigned char> out(deflateBound(&stream, static_cast<uLong>(count)) + 16);
    stream.next_in = const_cast<unsigned char*>(bytes);
    stream.avail_in = static_cast<uInt>(count);
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    int status = deflate(&stream, Z_FINISH);
    size_t produced = stream.total_out;
    deflateEnd(&stream);
    if (status != Z_STREAM_END) {
        error = stream.msg ? stream.msg : "deflate did not finish";
        return std::nullopt;
    }
    return produced;
}

float ratio(const unsigned char* bytes, size_t count) {
    std::string error;
    auto compressed = deflatedSize(bytes, count, error);
    if (!compressed || *compressed == 0) {
        TESSARY_LOG(debug,
                    "Compression error: " + (error.empty() ? std::string("empty output") : error));
        return kInfinity;
    }
    return static_cast<float>(count) / static_cast<float>(*compressed);
}

} // namespace

float TextUtilities::compressionRatio(std::span<const int> tokens) {
    std::vector<unsigned char> bytes;
    bytes.reserve(tokens.size() * 4);
    for (int token : tokens) {
        auto value = static_cast<uint32_t>(static_cast<int32_t>(token));
        for (int shift = 0; shift < 32; shift += 8)
            bytes.push_back(static_cast<unsigned char>(value >> shift));
    }
    return ratio(bytes.data(), bytes.size());
}

float TextUtilities::compressionRatio(std::string_view text) {
    if (text.empty()) return kInfinity;
    return ratio(reinterpret_cast<const unsigned char*>(text.data()), text.size());
}

} // namespace murmex
