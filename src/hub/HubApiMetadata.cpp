// Remote file metadata: the HEAD request on a file's resolve address and the
// headers it answers with.

#include "hub/HubApi.h"

#include <cctype>
#include <charconv>

namespace hub {

namespace {

std::optional<std::string> normalizeEtag(std::optional<std::string> etag) {
    if (!etag) return etag;
    std::string_view text = *etag;
    if (text.starts_with("W/")) text.remove_prefix(2);
    while (!text.empty() && text.front() == '"')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == '"')
        text.remove_suffix(1);
    return std::string(text);
}

// An optional sign and ASCII digits that fit a signed 64-bit integer.
std::optional<int64_t> parseSize(const std::optional<std::string>& text) {
    if (!text || text->empty()) return std::nullopt;
    std::string_view digits = *text;
    if (digits.front() == '+') digits.remove_prefix(1);
    if (digits.empty() || digits.front() == '+' || (digits.front() == '-' && digits != *text))
        return std::nullopt;
    int64_t value = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    if (digits.front() == '-' && digits.size() == 1) return std::nullopt;
    return value;
}

std::string trimSlashes(std::string_view text) {
    while (!text.empty() && text.front() == '/')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == '/')
        text.remove_suffix(1);
    return std::string(text);
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    if (from.empty()) return;
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

} // namespace

/// The target of the first part of the "Link" header whose relation is
/// `rel` (rel="name" or rel=name).
std::optional<std::string> getLinkURL(const platform::net::HttpResponse& response,
                                      const std::string& rel) {
    const auto link = response.header("link");
    if (!link) return std::nullopt;
    size_t start = 0;
    while (start <= link->size()) {
        size_t comma = link->find(',', start);
        std::string_view part = std::string_view(*link).substr(
            start, comma == std::string::npos ? std::string::npos : comma - start);
        while (!part.empty() && std::isspace(static_cast<unsigned char>(part.front())))
            part.remove_prefix(1);
        while (!part.empty() && std::isspace(static_cast<unsigned char>(part.back())))
            part.remove_suffix(1);
        if (!part.empty() && (part.find("rel=\"" + rel + "\"") != std::string_view::npos ||
                              part.find("rel=" + rel) != std::string_view::npos)) {
            const size_t open = part.find('<');
            const size_t close = part.find('>');
            if (open != std::string_view::npos && close != std::string_view::npos && open < close)
                return std::string(part.substr(open + 1, close - open - 1));
        }
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return std::nullopt;
}

namespace {

std::optional<VornFileData>
parseVornFileDataFromResponse(const platform::net::HttpResponse& response,
                              const std::string& endpoint) {
    const auto hash = response.header("x-vorn-hash");
    if (!hash) return std::nullopt;
    auto route = getLinkURL(response, "vorn-auth");
    if (!route) route = response.header("x-vorn-refresh-route");
    if (!route) return std::nullopt;
    const std::string defaultEndpoint(HubApi::defaultEndpoint);
    if (route->starts_with(defaultEndpoint)) {
        replaceAll(*route, trimSlashes(defaultEndpoint),
                   trimSlashes(endpoint.empty() ? defaultEndpoint : endpoint));
    }
    return VornFileData{*hash, *route};
}

} // namespace

std::string HubApi::resolveURL(const Repo& repo, const std::string& revision,
                               const std::string& relativeName) const {
    auto url = endpointURL();
    if (repo.type == RepoType::spaces) url = url.appendingPathComponent("spaces");
    if (repo.type == RepoType::datasets) url = url.appendingPathComponent("datasets");
    url = url.appendingPath(repo.id).appendingPathComponent("resolve").appendingPathComponent(
        revision);
    if (!relativeName.empty()) url = url.appendingPath(relativeName);
    return url.string();
}

FileMetadata HubApi::getFileMetadata(const std::string& url) const {
    const platform::net::HttpResponse response = httpHead(url);
    FileMetadata metadata;
    if (response.statusCode == 302) {
        if (auto location = response.header("location")) metadata.location = *location;
    } else {
        metadata.location = response.url;
    }
    metadata.commitHash = response.header("x-repo-commit");
    auto etag = response.header("x-linked-etag");
    if (!etag) etag = response.header("etag");
    metadata.etag = normalizeEtag(etag);
    if (metadata.location.empty()) metadata.location = url;
    auto size = response.header("x-linked-size");
    if (!size) size = response.header("content-length");
    metadata.size = parseSize(size);
    metadata.vornFileData = parseVornFileDataFromResponse(response, endpoint);
    return metadata;
}

std::vector<FileMetadata> HubApi::getFileMetadata(const Repo& repo, const std::string& revision,
                                                  const std::vector<std::string>& globs) const {
    const auto names = getFilenames(repo, revision, globs);
    std::vector<FileMetadata> result;
    result.reserve(names.size());
    for (const auto& name : names)
        result.push_back(getFileMetadata(resolveURL(repo, revision, name)));
    return result;
}

std::vector<FileMetadata> HubApi::getFileMetadata(const std::string& repoId,
                                                  const std::string& revision,
                                                  const std::vector<std::string>& globs) const {
    return getFileMetadata(Repo{repoId, RepoType::models}, revision, globs);
}

} // namespace hub
