#include "joblark/Foundation/URL.hpp"

#include <gtest/gtest.h>

#include <tuple>
#include <unordered_set>
#include <utility>

using joblark::URL;
using joblark::URLQueryItem;

namespace {

using Pairs = std::pair<const char*, const char*>;

URL url(std::string_view text) {
    auto parsed = URL::parse(text);
    if (!parsed)
        ADD_FAILURE() << "does not parse: " << text;
    return parsed.value_or(URL());
}

TEST(URLTest, ParsesComponentsAndRefusesMalformedText) {
    const URL u = url("https://api.example.com:8443/a/b?x=1&y=#frag");
    EXPECT_EQ(u.scheme(), "https");
    EXPECT_EQ(u.host(), "api.example.com");
    EXPECT_EQ(u.port(), 8443);
    EXPECT_EQ(u.effectivePort(), 8443);
    EXPECT_EQ(u.percentEncodedPath(), "/a/b");
    EXPECT_EQ(u.query(), "x=1&y=");
    EXPECT_EQ(u.fragment(), "frag");
    EXPECT_EQ(u.absoluteString(), "https://api.example.com:8443/a/b?x=1&y=#frag");
    EXPECT_FALSE(u.isFileURL());

    const URL bare = url("example.com/x");
    EXPECT_FALSE(bare.host());
    EXPECT_EQ(bare.path(), "example.com/x");
    EXPECT_FALSE(bare.isAbsolute());
    const URL networkPath = url("//host:81/p");
    EXPECT_FALSE(networkPath.scheme());
    EXPECT_EQ(networkPath.host(), "host");
    EXPECT_EQ(networkPath.port(), 81);

    for (const char* bad :
         {"ht tp://a b", "http://a b/", "http://[::1/", "http://host:65536/", "a\nb", "%zz"})
        EXPECT_FALSE(URL::parse(bad)) << bad;
    EXPECT_EQ(url("http://host:65535/").port(), 65535);
    EXPECT_EQ(URL::parse(""), URL());
    EXPECT_FALSE(url("http://h:/").port());
    EXPECT_EQ(url("http://h").effectivePort(), 80);
    EXPECT_EQ(url("wss://h").effectivePort(), 443);
    EXPECT_FALSE(url("http://h").port());
    EXPECT_FALSE(url("gopher://h").effectivePort());
}

TEST(URLTest, NormalisesAndDecodesComponents) {
    const Pairs normalised[] = {
        {"HTTP://ExAmple.COM/a/./b/../c", "http://example.com/a/c"},
        {"http://h/%7euser/%2f", "http://h/~user/%2F"},
        {"a/../../b", "../b"},
        // uriparser writes IPv6 literals in full.
        {"http://[::1]:8080/x", "http://[0000:0000:0000:0000:0000:0000:0000:0001]:8080/x"},
    };
    for (const auto& [input, expected] : normalised)
        EXPECT_EQ(url(input).absoluteString(), expected) << input;

    const URL u = url("ftp://us%20er:p%40ss@h/dir%20one/file%2Fname");
    EXPECT_EQ(u.user(), "us er");
    EXPECT_EQ(u.password(), "p@ss");
    EXPECT_EQ(u.path(), "/dir one/file/name");
    EXPECT_EQ(u.percentEncodedPath(), "/dir%20one/file%2Fname");
    EXPECT_EQ(u.lastPathComponent(), "file/name"); // a %2F stays inside its segment
    EXPECT_FALSE(url("http://u@h/").password());
    const Pairs lasts[] = {{"http://h/a/b/", "b"}, {"http://h/", "/"}, {"http://h", ""}, {"x", "x"}};
    for (const auto& [input, last] : lasts)
        EXPECT_EQ(url(input).lastPathComponent(), last) << input;
}

TEST(URLTest, QueryItemsReadAndBuild) {
    EXPECT_EQ(url("?a&b=").queryItems(), (std::vector<URLQueryItem>{{"a", std::nullopt}, {"b", ""}}));
    EXPECT_EQ(url("?q=a%20b+c%26&x=1=2").queryItems(),
              (std::vector<URLQueryItem>{{"q", "a b+c&"}, {"x", "1=2"}}));
    EXPECT_TRUE(url("http://h/?").queryItems().empty());

    const URL base = url("https://h/p?old=1#frag");
    const std::vector<URLQueryItem> items{{"q", "a b&c=d+é"}, {"flag", std::nullopt}, {"e", ""}};
    const URL replaced = base.withQueryItems(items);
    EXPECT_EQ(replaced.absoluteString(), "https://h/p?q=a%20b%26c%3Dd%2B%C3%A9&flag&e=#frag");
    EXPECT_EQ(replaced.queryItems(), items);
    const URL removed = base.withQueryItems({});
    EXPECT_FALSE(removed.query());
    EXPECT_EQ(removed.absoluteString(), "https://h/p#frag");
    EXPECT_EQ(base.appendingQueryItems({{"n", "2"}}).absoluteString(), "https://h/p?old=1&n=2#frag");
    EXPECT_EQ(url("https://h/p").appendingQueryItems({{"n", "2"}}).absoluteString(), "https://h/p?n=2");
    EXPECT_EQ(base.appendingQueryItems({}), base);
}

TEST(URLTest, AppendsPathComponentsAndResolvesReferences) {
    const std::tuple<const char*, const char*, const char*> appends[] = {
        {"https://h", "items", "https://h/items"},
        {"https://h/", "items", "https://h/items"},
        {"https://h/api", "v1/items", "https://h/api/v1/items"},
        {"https://h/api/", "dir/", "https://h/api/dir/"},
        {"https://h/api?x=1#f", "a b", "https://h/api/a%20b?x=1#f"},
        {"https://h/api", "evil.com?#:@", "https://h/api/evil.com%3F%23%3A%40"}, // stays in the path
        {"", "a:b", "a%3Ab"},
        {"rel/", "x", "rel/x"},
    };
    for (const auto& [base, name, expected] : appends)
        EXPECT_EQ(url(base).appendingPathComponent(name).absoluteString(), expected) << base << " + " << name;

    const URL base = url("http://a/b/c/d;p?q");
    // From RFC 3986, section 5.4.
    const Pairs resolved[] = {
        {"g", "http://a/b/c/g"},      {"g/", "http://a/b/c/g/"},
        {"/g", "http://a/g"},         {"//g", "http://g"},
        {"?y", "http://a/b/c/d;p?y"}, {"#s", "http://a/b/c/d;p?q#s"},
        {"../..", "http://a/"},       {"../../../g", "http://a/g"},
        {"", "http://a/b/c/d;p?q"},   {"https://o/x", "https://o/x"},
    };
    for (const auto& [reference, expected] : resolved)
        EXPECT_EQ(url(reference).resolvingAgainst(base).absoluteString(), expected) << reference;
    EXPECT_EQ(url("g").resolvingAgainst(url("b/c")).absoluteString(), "g"); // a relative base anchors nothing
}

TEST(URLTest, SameOriginNeedsSchemeHostAndEffectivePort) {
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"https://api.example.com/a", "https://api.example.com/b?x#y", true},
        {"https://api.example.com/", "https://API.Example.COM/", true},
        {"HTTPS://api.example.com/", "https://api.example.com/", true},
        {"https://api.example.com/", "https://api.example.com:443/", true},
        {"http://api.example.com/", "http://api.example.com:80/", true},
        {"https://user:pw@api.example.com/", "https://api.example.com/", true},
        {"http://[::1]:8080/", "http://[::1]:8080/x", true},
        {"https://api.example.com/", "https://api.example.com:8443/", false},
        {"https://api.example.com:8443/", "https://api.example.com:8444/", false},
        {"https://api.example.com/", "http://api.example.com/", false},
        {"https://api.example.com:80/", "http://api.example.com/", false},
        {"https://api.example.com/", "https://example.com/", false},
        {"https://api.example.com/", "https://api.example.com.evil.net/", false},
        {"https://api.example.com/", "https://evil.net/?https://api.example.com/", false},
        {"https://api.example.com/", "//api.example.com/", false},
        {"https://api.example.com/", "/relative", false},
        {"//api.example.com/", "//api.example.com/", false},
        {"file:///a", "file:///a", false},
        {"http://127.0.0.1:8080/", "http://localhost:8080/", false},
    };
    for (const auto& [a, b, same] : cases) {
        EXPECT_EQ(url(a).isSameOrigin(url(b)), same) << a << " vs " << b;
        EXPECT_EQ(url(b).isSameOrigin(url(a)), same) << b << " vs " << a;
    }
}

TEST(URLTest, FileURLsAndComparison) {
    const URL file = URL::fileURL("/tmp/a b/ü#?%.txt");
    EXPECT_EQ(file.absoluteString(), "file:///tmp/a%20b/%C3%BC%23%3F%25.txt");
    EXPECT_TRUE(file.isFileURL());
    EXPECT_EQ(file.path(), "/tmp/a b/ü#?%.txt");
    EXPECT_FALSE(file.query());
    EXPECT_EQ(URL::fileURL("/tmp/x/../y").path(), "/tmp/y");
    EXPECT_EQ(URL::fileURL("relative.txt").path(),
              (std::filesystem::current_path() / "relative.txt").string());

    EXPECT_EQ(url("HTTP://H/a/../b"), url("http://h/b"));
    EXPECT_NE(url("http://h/b"), url("http://h/b/"));
    EXPECT_LT(url("http://a/"), url("http://b/"));
    EXPECT_EQ((std::unordered_set<URL>{url("http://H/x"), url("http://h/x"), url("http://h/y")}).size(), 2u);
}

} // namespace
