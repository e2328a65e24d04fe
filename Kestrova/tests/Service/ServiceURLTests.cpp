#include "ServiceServer.hpp"

#include "Service/ServiceURLs.hpp"

#include "joblark/Foundation/Log.hpp"

#include <gtest/gtest.h>

using namespace kestrova;

TEST(ServiceURLs, OverrideMustBeAnHTTPOrigin) {
    struct Case {
        const char* text;
        std::optional<std::string> origin;
    };
    for (const auto& c :
         std::vector<Case>{{"http://127.0.0.1:8787", "http://127.0.0.1:8787"},
                           {"http://127.0.0.1:8787/", "http://127.0.0.1:8787"},
                           {"HTTPS://Quillnest.Example", "https://quillnest.example"},
                           {"http://[::1]:8787", "http://[0000:0000:0000:0000:0000:0000:0000:0001]:8787"},
                           {"ftp://quillnest.example", std::nullopt},
                           {"file:///tmp/x", std::nullopt},
                           {"https://quillnest.example/api", std::nullopt},
                           {"https://quillnest.example?x=1", std::nullopt},
                           {"https://quillnest.example#top", std::nullopt},
                           {"https://user:pw@quillnest.example", std::nullopt},
                           {"quillnest.example", std::nullopt},
                           {"http://", std::nullopt},
                           {"", std::nullopt},
                           {"http://bad host", std::nullopt}}) {
        auto origin = ServiceURLs::originFrom(c.text);
        EXPECT_EQ(origin.has_value(), c.origin.has_value()) << c.text;
        // IPv6 is written however the URL library normalises it; only the others are compared exactly.
        if (origin && c.origin && std::string_view(c.text).find('[') == std::string_view::npos) {
            EXPECT_EQ(*origin, *c.origin) << c.text;
        }
    }

    joblark::LogCapture log;
    EXPECT_EQ(ServiceURLs::chooseBaseURL(nullptr), "https://quillnest.example");
    EXPECT_FALSE(log.contains("KESTROVA_SERVICE_URL"));
    EXPECT_EQ(ServiceURLs::chooseBaseURL("http://127.0.0.1:8787/"), "http://127.0.0.1:8787");
    EXPECT_FALSE(log.contains("KESTROVA_SERVICE_URL"));
    EXPECT_EQ(ServiceURLs::chooseBaseURL("javascript:alert(1)"), "https://quillnest.example");
    EXPECT_EQ(log.count("KESTROVA_SERVICE_URL is not an http or https origin"), 1u);
}

TEST(ServiceURLs, AllDeriveFromTheBaseURL) {
    // The test program points the service at its local server.
    std::string base = kestrova::testing::serviceServer().urlString("");
    EXPECT_EQ(ServiceURLs::serviceBaseURL(), base);
    EXPECT_EQ(ServiceURLs::apiRoot().absoluteString(), base + "/api");
    EXPECT_EQ(ServiceURLs::endpoints().absoluteString(), base + "/api/endpoints");
    EXPECT_EQ(ServiceURLs::measures().absoluteString(), base + "/api/measures");
    EXPECT_EQ(ServiceURLs::currentUser().absoluteString(), base + "/api/me");
    EXPECT_EQ(ServiceURLs::tokenExchange().absoluteString(), base + "/api/tokens/exchange");
    EXPECT_EQ(ServiceURLs::pushDevices().absoluteString(), base + "/api/devices/apns");
    EXPECT_EQ(ServiceURLs::profilePage().absoluteString(), base + "/profile");
    EXPECT_EQ(ServiceURLs::registrationPage().absoluteString(), base + "/accounts/register");
}
