#include "platform/net/Url.h"

#include <cctype>

namespace platform::net {

namespace {

bool isSchemeChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
}

bool isForbidden(std::string_view text) {
    for (unsigned char c : text)
        if (c <= 0x20 || c == 0x7f) return true;
    return false;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Splits "path?query#fragment" and drops the fragment.
void splitPathQuery(std::string_view rest, std::string& path, std::optional<std::string>& query) {
    if (auto hash = rest.find('#'); hash != std::string_view::npos) rest = rest.substr(0, hash);
    if (auto mark = rest.find('?'); mark != std::string_view::npos) {
        query = std::string(rest.substr(mark + 1));
        rest = rest.substr(0, mark);
    } else {
        query.reset();
    }
    path = std::string(rest);
}

} // namespace

std::optional<Url> Url::parse(std::string_view text) {
    if (text.empty() || isForbidden(text)) return std::nullopt;
    auto colon = text.find("://");
    if (colon == std::string_view::npos || colon == 0) return std::nullopt;
    if (!std::isalpha(static_cast<unsigned char>(text[0]))) return std::nullopt;
    for (size_t i = 0; i < colon; ++i)
        if (!isSchemeChar(text[i])) return std::nullopt;
    Url url;
    url.scheme_ = std::string(text.substr(0, colon));
    std::string_view rest = text.substr(colon + 3);
    size_t end = rest.find_first_of("/?#");
    url.authority_ = std::string(rest.substr(0, end));
    if (url.authority_.empty()) return std::nullopt;
    if (end != std::string_view::npos) splitPathQuery(rest.substr(end), url.path_, url.query_);
    return url;
}

std::string Url::encodePathSegment(std::string_view text, bool keepSlash) {
    static constexpr std::string_view kAllowed = "-._~!$&'()*+,;=:@";
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if (std::isalnum(c) || kAllowed.find(static_cast<char>(c)) != std::string_view::npos ||
            (keepSlash && c == '/')) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        }
    }
    return out;
}

std::string Url::percentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            int high = hexValue(text[i + 1]);
            int low = hexValue(text[i + 2]);
            if (high >= 0 && low >= 0) {
                out.push_back(static_cast<char>(high * 16 + low));
                i += 2;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

Url Url::appendingPathComponent(std::string_view component) const {
    Url url = *this;
    if (url.path_.empty() || url.path_.back() != '/') url.path_.push_back('/');
    url.path_ += encodePathSegment(component);
    return url;
}

Url Url::appendingPath(std::string_view path) const {
    Url url = *this;
    size_t start = 0;
    while (start <= path.size()) {
        size_t slash = path.find('/', start);
        std::string_view segment = path.substr(
            start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
        if (!segment.empty()) url = url.appendingPathComponent(segment);
        if (slash == std::string_view::npos) break;
        start = slash + 1;
    }
    return url;
}

std::string Url::lastPathComponent() const {
    std::string_view path = path_;
    while (!path.empty() && path.back() == '/')
        path.remove_suffix(1);
    auto slash = path.rfind('/');
    return percentDecode(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string Url::string() const {
    std::string text = scheme_ + "://" + authority_ + path_;
    if (query_) text += "?" + *query_;
    return text;
}

bool Url::hasHost(std::string_view text) {
    if (text.starts_with("//")) return true;
    auto colon = text.find(':');
    auto firstSlash = text.find_first_of("/?#");
    if (colon == std::string_view::npos || colon == 0) return false;
    if (firstSlash != std::string_view::npos && firstSlash < colon) return false;
    for (size_t i = 0; i < colon; ++i)
        if (!isSchemeChar(text[i])) return false;
    return std::isalpha(static_cast<unsigned char>(text[0]));
}

std::optional<Url> Url::replacingPathAndQuery(std::string_view reference) const {
    if (reference.empty() || hasHost(reference) || isForbidden(reference)) return std::nullopt;
    Url url = *this;
    std::string path;
    splitPathQuery(reference, path, url.query_);
    if (path.empty()) {
        path = path_;
    } else if (path.front() != '/') {
        auto slash = path_.rfind('/');
        path = (slash == std::string::npos ? std::string("/") : path_.substr(0, slash + 1)) + path;
    }
    url.path_ = path;
    return url;
}

} // namespace platform::net
