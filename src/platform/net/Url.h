#pragma once
// Absolute URLs of the form scheme://authority/path?query, built up segment by
// segment with the right percent-encoding, and relative references resolved
// against them. Enough for the addresses the hub client builds and the
// redirects it follows; not a general URL library.

#include <optional>
#include <string>
#include <string_view>

namespace platform::net {

class Url {
public:
    /// Parses an absolute URL ("http://host:8080/a/b?x=1"). Absent when the
    /// text has no scheme, no "//" authority, or holds white space or control
    /// characters.
    static std::optional<Url> parse(std::string_view text);

    /// A new URL with one path component appended; "/" and every character
    /// outside the path set are percent-encoded, so "refs/pr/1" stays one
    /// segment.
    Url appendingPathComponent(std::string_view component) const;
    /// A new URL with a "/"-separated path appended; each of its segments is
    /// encoded as by appendingPathComponent, empty segments are dropped.
    Url appendingPath(std::string_view path) const;

    const std::string& scheme() const { return scheme_; }
    /// "host" or "host:port", as written.
    const std::string& authority() const { return authority_; }
    /// The percent-encoded path, beginning with "/" (or empty).
    const std::string& path() const { return path_; }
    /// The query without "?", absent when there is none.
    const std::optional<std::string>& query() const { return query_; }
    /// The last path segment, percent-decoded ("" for a bare host).
    std::string lastPathComponent() const;

    /// The whole address as text.
    std::string string() const;

    /// A reference without scheme and host ("/x/y?q", "y"): this URL with its
    /// path and query replaced by the reference's (a path not beginning with
    /// "/" replaces the last segment). Absent when the reference names a host
    /// or scheme, or holds characters a URL cannot carry.
    std::optional<Url> replacingPathAndQuery(std::string_view reference) const;

    /// True when `text` is a reference with its own scheme or host.
    static bool hasHost(std::string_view text);

    /// Percent-encodes everything outside the unreserved, sub-delimiter, ":"
    /// and "@" characters; also "/" unless `keepSlash`.
    static std::string encodePathSegment(std::string_view text, bool keepSlash = false);
    /// Decodes "%XX" escapes; malformed escapes stay as they are.
    static std::string percentDecode(std::string_view text);

private:
    std::string scheme_;
    std::string authority_;
    std::string path_;
    std::optional<std::string> query_;
};

} // namespace platform::net
