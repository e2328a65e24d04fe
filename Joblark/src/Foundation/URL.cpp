#include "joblark/Foundation/URL.hpp"

#include "joblark/Foundation/Error.hpp"

#include <uriparser/Uri.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <deque>
#include <memory>
#include <system_error>

namespace joblark {
namespace {

/// Owns the members of a successfully parsed UriUriA. Non-copyable.
class ParsedURI {
public:
    ParsedURI() = default;
    ~ParsedURI() {
        if (owned_)
            uriFreeUriMembersA(&uri_);
    }
    ParsedURI(const ParsedURI&) = delete;
    ParsedURI& operator=(const ParsedURI&) = delete;

    /// The text must outlive this object: the parsed ranges point into it.
    bool parse(std::string_view text) {
        static constexpr char empty[] = "";
        const char* first = text.empty() ? empty : text.data();
        const char* errorPosition = nullptr;
        // On failure uriparser frees what it allocated itself.
        owned_ = uriParseSingleUriExA(&uri_, first, first + text.size(), &errorPosition) == URI_SUCCESS;
        return owned_;
    }
    /// Takes over a result filled in by a uriparser call (resolution).
    void adopt() { owned_ = true; }

    UriUriA& get() { return uri_; }
    const UriUriA& get() const { return uri_; }

private:
    UriUriA uri_{};
    bool owned_ = false;
};

bool present(const UriTextRangeA& range) {
    return range.first != nullptr;
}

std::optional<std::string> text(const UriTextRangeA& range) {
    if (!present(range))
        return std::nullopt;
    return std::string(range.first, range.afterLast);
}

UriTextRangeA rangeOf(const std::string& s) {
    return {s.data(), s.data() + s.size()};
}

std::optional<std::string> toString(const UriUriA& uri) {
    int length = 0;
    if (uriToStringCharsRequiredA(&uri, &length) != URI_SUCCESS)
        return std::nullopt;
    std::string out(static_cast<std::size_t>(length) + 1, '\0');
    if (uriToStringA(out.data(), &uri, length + 1, nullptr) != URI_SUCCESS)
        return std::nullopt;
    out.resize(static_cast<std::size_t>(length));
    return out;
}

std::string decode(std::string_view encoded) {
    std::string out(encoded);
    // The encoded text holds no NUL (the URI grammar has none), so the in-place decoder sees all of it.
    const char* end = uriUnescapeInPlaceExA(out.data(), URI_FALSE, URI_BR_DONT_TOUCH);
    out.resize(static_cast<std::size_t>(end - out.data()));
    return out;
}

std::string encode(std::string_view raw) {
    std::string out(raw.size() * 3 + 1, '\0');
    const char* end = uriEscapeExA(raw.data(), raw.data() + raw.size(), out.data(), URI_FALSE, URI_FALSE);
    out.resize(static_cast<std::size_t>(end - out.data()));
    return out;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

/// The query text uriparser composes from `items` (names and values encoded, spaces as %20).
std::string composeQuery(const std::vector<URLQueryItem>& items) {
    if (items.empty())
        return {};
    std::vector<UriQueryListA> list(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        // uriparser takes C strings here, so a NUL inside a name or value ends it.
        list[i].key = items[i].name.c_str();
        list[i].value = items[i].value ? items[i].value->c_str() : nullptr;
        list[i].next = i + 1 < items.size() ? &list[i + 1] : nullptr;
    }
    char* composed = nullptr;
    if (uriComposeQueryMallocExA(&composed, list.data(), URI_FALSE, URI_FALSE) != URI_SUCCESS)
        fatalError("uriparser could not compose a query");
    std::unique_ptr<char, decltype(&std::free)> holder(composed, &std::free);
    return std::string(composed);
}

} // namespace

std::optional<URL> URL::parse(std::string_view input) {
    ParsedURI parsed;
    if (!parsed.parse(input))
        return std::nullopt;
    UriUriA& uri = parsed.get();
    if (uriNormalizeSyntaxA(&uri) != URI_SUCCESS)
        return std::nullopt;
    auto normalized = toString(uri);
    if (!normalized)
        return std::nullopt;
    return fromNormalized(std::move(*normalized));
}

std::optional<URL> URL::fromNormalized(std::string normalized) {
    URL url;
    url.string_ = std::move(normalized);
    ParsedURI parsed;
    if (!parsed.parse(url.string_))
        return std::nullopt;
    const UriUriA& uri = parsed.get();

    if (present(uri.portText) && uri.portText.first != uri.portText.afterLast) {
        int port = 0;
        auto [end, ec] = std::from_chars(uri.portText.first, uri.portText.afterLast, port);
        if (ec != std::errc() || end != uri.portText.afterLast || port > 65535)
            return std::nullopt;
        url.port_ = port;
    }
    url.scheme_ = text(uri.scheme);
    url.userInfo_ = text(uri.userInfo);
    if (present(uri.hostText) && uri.hostText.first != uri.hostText.afterLast)
        url.host_ = text(uri.hostText);
    url.query_ = text(uri.query);
    url.fragment_ = text(uri.fragment);

    // uriparser keeps the path as a segment list whose empty parts may point outside string_, so the
    // encoded path is what it writes for a reference that holds only those segments.
    UriUriA pathOnly{};
    pathOnly.pathHead = uri.pathHead;
    pathOnly.pathTail = uri.pathTail;
    pathOnly.absolutePath =
        uri.absolutePath || (present(uri.hostText) && uri.pathHead) ? URI_TRUE : URI_FALSE;
    auto path = toString(pathOnly);
    if (!path)
        return std::nullopt;
    url.path_ = std::move(*path);
    return url;
}

URL URL::fileURL(const std::filesystem::path& path) {
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    if (ec)
        absolute = std::filesystem::path("/") / path;
    const std::string native = absolute.lexically_normal().string();
    // uriparser asks for three bytes per input byte plus room for "file://".
    std::string out(native.size() * 3 + 8, '\0');
    if (uriUnixFilenameToUriStringA(native.c_str(), out.data()) != URI_SUCCESS)
        fatalError("uriparser could not convert a file name");
    out.resize(out.find('\0'));
    auto url = parse(out);
    if (!url)
        fatalError("uriparser produced an unparsable file URL");
    return std::move(*url);
}

std::optional<int> URL::effectivePort() const {
    if (port_)
        return port_;
    if (scheme_ == "http" || scheme_ == "ws")
        return 80;
    if (scheme_ == "https" || scheme_ == "wss")
        return 443;
    return std::nullopt;
}

std::optional<std::string> URL::user() const {
    if (!userInfo_)
        return std::nullopt;
    return decode(std::string_view(*userInfo_).substr(0, userInfo_->find(':')));
}

std::optional<std::string> URL::password() const {
    if (!userInfo_)
        return std::nullopt;
    const auto colon = userInfo_->find(':');
    if (colon == std::string::npos)
        return std::nullopt;
    return decode(std::string_view(*userInfo_).substr(colon + 1));
}

std::string URL::path() const {
    return decode(path_);
}

std::string URL::lastPathComponent() const {
    std::string_view path = path_;
    while (!path.empty() && path.back() == '/')
        path.remove_suffix(1);
    if (path.empty())
        return path_.empty() ? std::string() : std::string("/");
    const auto slash = path.rfind('/');
    return decode(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::vector<URLQueryItem> URL::queryItems() const {
    std::vector<URLQueryItem> items;
    if (!query_ || query_->empty())
        return items;
    UriQueryListA* list = nullptr;
    int count = 0;
    const char* first = query_->data();
    if (uriDissectQueryMallocExA(&list, &count, first, first + query_->size(), URI_FALSE,
                                 URI_BR_DONT_TOUCH) != URI_SUCCESS)
        return items;
    std::unique_ptr<UriQueryListA, decltype(&uriFreeQueryListA)> holder(list, &uriFreeQueryListA);
    items.reserve(static_cast<std::size_t>(count));
    for (const UriQueryListA* item = list; item != nullptr; item = item->next) {
        URLQueryItem& added = items.emplace_back();
        added.name = item->key ? item->key : "";
        if (item->value)
            added.value = item->value;
    }
    return items;
}

URL URL::withQueryItems(const std::vector<URLQueryItem>& items) const {
    ParsedURI parsed;
    if (!parsed.parse(string_))
        fatalError("a normalised URL no longer parses");
    // A shallow copy whose query points at our own string; only the original is freed.
    UriUriA changed = parsed.get();
    const std::string query = composeQuery(items);
    changed.query = items.empty() ? UriTextRangeA{nullptr, nullptr} : rangeOf(query);
    auto result = toString(changed);
    auto url = result ? parse(*result) : std::nullopt;
    if (!url)
        fatalError("uriparser produced an unparsable URL");
    return std::move(*url);
}

URL URL::appendingQueryItems(const std::vector<URLQueryItem>& items) const {
    if (items.empty())
        return *this;
    if (!query_ || query_->empty())
        return withQueryItems(items);
    // The existing query is kept byte for byte; only the new items are composed.
    auto url = parse(string_.substr(0, string_.size() - (fragment_ ? fragment_->size() + 1 : 0)) + "&" +
                     composeQuery(items) + (fragment_ ? "#" + *fragment_ : std::string()));
    if (!url)
        fatalError("uriparser produced an unparsable URL");
    return std::move(*url);
}

URL URL::appendingPathComponent(std::string_view name) const {
    ParsedURI parsed;
    if (!parsed.parse(string_))
        fatalError("a normalised URL no longer parses");
    UriUriA changed = parsed.get();

    // A deque keeps the encoded pieces in place while segments point into them.
    std::deque<std::string> pieces;
    for (std::size_t start = 0;;) {
        const auto slash = name.find('/', start);
        const std::string_view piece = name.substr(start, slash - start);
        const bool last = slash == std::string_view::npos;
        if (!piece.empty() || last)
            pieces.push_back(encode(piece));
        if (last)
            break;
        start = slash + 1;
    }

    std::vector<UriPathSegmentA> segments;
    for (const UriPathSegmentA* s = changed.pathHead; s != nullptr; s = s->next)
        segments.push_back(*s);
    // A path ending in '/' has an empty last segment: the new name takes its place.
    if (!segments.empty() && segments.back().text.first == segments.back().text.afterLast)
        segments.pop_back();
    for (const std::string& piece : pieces)
        segments.push_back(UriPathSegmentA{rangeOf(piece), nullptr, nullptr});
    for (std::size_t i = 0; i + 1 < segments.size(); ++i)
        segments[i].next = &segments[i + 1];
    segments.back().next = nullptr;
    changed.pathHead = &segments.front();
    changed.pathTail = &segments.back();

    auto result = toString(changed);
    auto url = result ? parse(*result) : std::nullopt;
    if (!url)
        fatalError("uriparser produced an unparsable URL");
    return std::move(*url);
}

URL URL::resolvingAgainst(const URL& base) const {
    if (!base.isAbsolute())
        return *this;
    ParsedURI reference;
    ParsedURI anchor;
    if (!reference.parse(string_) || !anchor.parse(base.string_))
        fatalError("a normalised URL no longer parses");
    ParsedURI resolved;
    if (uriAddBaseUriExA(&resolved.get(), &reference.get(), &anchor.get(), URI_RESOLVE_STRICTLY) !=
        URI_SUCCESS)
        return *this;
    resolved.adopt();
    auto result = toString(resolved.get());
    auto url = result ? parse(*result) : std::nullopt;
    return url ? std::move(*url) : *this;
}

bool URL::isSameOrigin(const URL& other) const {
    if (!scheme_ || !other.scheme_ || !host_ || !other.host_)
        return false;
    return equalsIgnoringCase(*scheme_, *other.scheme_) && equalsIgnoringCase(*host_, *other.host_) &&
           effectivePort() == other.effectivePort();
}

} // namespace joblark
