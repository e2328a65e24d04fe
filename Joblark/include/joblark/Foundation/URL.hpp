#pragma once

#include "joblark/Foundation/Export.hpp"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Thread safety: URL is an immutable value: safe to share between threads.

namespace joblark {

/// One name/value pair of a query, percent-decoded. `value` is absent for "a" and empty for "a=".
struct JOBLARK_EXPORT URLQueryItem {
    std::string name;
    std::optional<std::string> value;

    bool operator==(const URLQueryItem&) const = default;
};

/// An RFC 3986 URI reference, absolute or relative, held in normalised form (scheme and host in
/// lower case, dot segments removed, percent-encodings upper case, IPv6 literals written in full). Parsing,
/// normalising, resolving and percent-encoding are uriparser's.
class JOBLARK_EXPORT URL {
public:
    /// The empty reference, as parse("") gives.
    URL() = default;

    /// Absent when the text is not a URI reference or names a port beyond 65535.
    static std::optional<URL> parse(std::string_view text);
    /// "file:///abs/path", percent-encoded. A relative path is taken from the current directory.
    static URL fileURL(const std::filesystem::path& path);

    std::optional<std::string> scheme() const { return scheme_; }
    /// Without the brackets of an IPv6 literal. Absent when there is no authority or it names no host
    /// (as in "file:///x").
    std::optional<std::string> host() const { return host_; }
    /// The port written in the URL.
    std::optional<int> port() const { return port_; }
    /// The written port, or 80/443 for http(s) and ws(s).
    std::optional<int> effectivePort() const;
    std::optional<std::string> user() const;
    std::optional<std::string> password() const;
    /// Percent-decoded; may be empty.
    std::string path() const;
    const std::string& percentEncodedPath() const { return path_; }
    /// Percent-encoded, without the '?'.
    std::optional<std::string> query() const { return query_; }
    /// Percent-encoded, without the '#'.
    std::optional<std::string> fragment() const { return fragment_; }
    std::vector<URLQueryItem> queryItems() const;
    bool isFileURL() const { return scheme_ == "file"; }
    /// Whether the URL has a scheme (is not a relative reference).
    bool isAbsolute() const { return scheme_.has_value(); }
    const std::string& absoluteString() const { return string_; }
    /// The last non-empty path segment, decoded; "/" for the root path, "" for an empty path.
    std::string lastPathComponent() const;

    /// Replaces the query; an empty list removes it.
    URL withQueryItems(const std::vector<URLQueryItem>& items) const;
    URL appendingQueryItems(const std::vector<URLQueryItem>& items) const;
    /// Appends `name` to the path. '/' in `name` separates segments; everything else is
    /// percent-encoded, so a name never changes the scheme, host, query or fragment. "." and ".."
    /// keep their path meaning.
    URL appendingPathComponent(std::string_view name) const;
    /// This reference resolved against `base`. A base without scheme cannot anchor anything, so the
    /// reference then comes back unchanged.
    URL resolvingAgainst(const URL& base) const;

    /// Same scheme, host (both case-insensitive) and effective port. URLs without scheme or host
    /// (relative references, "file:" URLs) are never of the same origin as anything. Decides whether
    /// a credential may be sent to a URL.
    bool isSameOrigin(const URL& other) const;

    bool operator==(const URL& other) const { return string_ == other.string_; }
    bool operator<(const URL& other) const { return string_ < other.string_; }

private:
    static std::optional<URL> fromNormalized(std::string text);

    std::string string_;
    std::optional<std::string> scheme_;
    std::optional<std::string> userInfo_;
    std::optional<std::string> host_;
    std::optional<int> port_;
    std::string path_;
    std::optional<std::string> query_;
    std::optional<std::string> fragment_;
};

} // namespace joblark

template <>
struct std::hash<joblark::URL> {
    std::size_t operator()(const joblark::URL& url) const noexcept {
        return std::hash<std::string>{}(url.absoluteString());
    }
};
