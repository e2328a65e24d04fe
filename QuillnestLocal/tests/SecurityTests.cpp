#include "quillnest/Security.hpp"

#include "TestService.hpp"

namespace quillnest {
namespace {

std::string base64(std::string_view text) {
    return testing::basic(text).substr(6); // without "Basic "
}

TEST(BasicAuthorization, AcceptsWellFormedCredentials) {
    struct Case {
        std::string header;
        std::string email;
        std::string password;
    } cases[] = {
        {"Basic " + base64("a@b.c:secret"), "a@b.c", "secret"},
        {"basic   " + base64("a@b.c:pa:ss:word") + "  ", "a@b.c", "pa:ss:word"},
        {"Basic " + base64("jürgen@bücher.de:pässwörd"), "jürgen@bücher.de", "pässwörd"},
        {"Basic " + base64("a@b.c:"), "a@b.c", ""},
    };
    for (const auto& c : cases) {
        auto parsed = parseBasicAuthorization(c.header);
        ASSERT_TRUE(parsed) << c.header;
        EXPECT_EQ(parsed->first, c.email);
        EXPECT_EQ(parsed->second, c.password);
    }
}

TEST(BasicAuthorization, RefusesMalformedHeaders) {
    const std::string cases[] = {
        "",
        "Basic",
        "Basic ",
        "Bearer " + base64("a@b.c:x"),
        "Basic" + base64("a@b.c:x"),
        "Basic !!!not-base64!!!",
        "Basic " + base64("a@b.c:x").substr(1),
        "Basic " + base64("no-colon-here"),
        "Basic " + base64(":password-without-user"),
        "Basic " + base64("a@b.c:\xff\xfe"),
        "Basic " + base64("a@b.c:\xc0\xaf"),             // overlong '/'
        "Basic " + base64("a@b.c:\xed\xa0\x80"),         // surrogate
        "Basic " + base64(std::string("a@b.c:x\0y", 9)), // control character
        "Basic " + std::string(10000, 'A'),
    };
    for (const auto& header : cases)
        EXPECT_FALSE(parseBasicAuthorization(header)) << header;
}

TEST(TokenAuthorization, ReadsTheKeyAfterTheScheme) {
    EXPECT_EQ(parseTokenAuthorization("Token abc123"), "abc123");
    EXPECT_EQ(parseTokenAuthorization("token  abc123 "), "abc123");
    EXPECT_FALSE(parseTokenAuthorization("Token"));
    EXPECT_FALSE(parseTokenAuthorization("Token "));
    EXPECT_FALSE(parseTokenAuthorization("Tokenabc"));
    EXPECT_FALSE(parseTokenAuthorization("Basic abc"));
    EXPECT_FALSE(parseTokenAuthorization("Token a b"));
    EXPECT_FALSE(parseTokenAuthorization("Token " + std::string(300, 'a')));
}

TEST(Passwords, HashVerifiesOnlyTheSamePassword) {
    auto hash = hashPassword("correct horse", PasswordCost::minimal);
    EXPECT_EQ(hash.rfind("$argon2id$", 0), 0u) << hash;
    EXPECT_TRUE(verifyPassword(hash, "correct horse"));
    EXPECT_FALSE(verifyPassword(hash, "correct horsf"));
    EXPECT_FALSE(verifyPassword("not a hash", "correct horse"));
    EXPECT_NE(hashPassword("correct horse", PasswordCost::minimal), hash); // salted
}

TEST(Tokens, AreRandomAndStoredAsAHashOfTheKey) {
    auto a = newTokenKey();
    auto b = newTokenKey();
    EXPECT_EQ(a.size(), 40u);
    EXPECT_NE(a, b);
    EXPECT_EQ(tokenHash(a), tokenHash(a));
    EXPECT_NE(tokenHash(a), tokenHash(b));
    EXPECT_EQ(tokenHash(a).find(a), std::string::npos);
}

} // namespace
} // namespace quillnest
