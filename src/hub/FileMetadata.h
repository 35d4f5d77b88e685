#pragma once
// What the hub says about the current remote version of one file, read from
// the headers of a HEAD request on its resolve address.

#include <cstdint>
#include <optional>
#include <string>

namespace hub {

/// The storage service's own identity of a file and where access to it is
/// refreshed. Carried along; nothing reads it further.
struct VornFileData {
    std::string fileHash;
    std::string refreshRoute;
    bool operator==(const VornFileData&) const = default;
};

struct FileMetadata {
    /// The revision's commit id as the hub reports it.
    std::optional<std::string> commitHash;
    /// The content identity, without weak mark and quotes.
    std::optional<std::string> etag;
    /// Where the bytes are served from: a redirect target or the address.
    std::string location;
    std::optional<int64_t> size;
    std::optional<VornFileData> vornFileData;
};

} // namespace hub
