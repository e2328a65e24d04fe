#include "ServiceServer.hpp"

#include "Service/ServiceURLs.hpp"

#include "joblark/Foundation/Log.hpp"

#include <gtest/gtest.h>

using namespace kestrova;

TEST(ServiceURLs, OverrideMustBeAnHTTPOriginAndEveryURLDerivesFromIt) {
    struct Case {
        const char* text;
        std::optional<std::string> origin;
    };
    for (const auto& c : std::vector<Case>{{"http://127.0.0.1:8787/", "http://127.0.0.1:8787"},
                                           {"HTTPS://Quillnest.Example", "https://quillnest.example"},
                                           {"ftp://quillnest.example", std::nullopt},
                                           {"https://quillnest.example/api", std::nullopt},
                                           {"https://quillnest.example?x=1", std::nullopt},
                                           {"https://user:pw@quillnest.example", std::nullopt},
                                           {"quillnest.example", std::nullopt},
                                           {"http://bad host", std::nullopt}})
        EXPECT_EQ(ServiceURLs::originFrom(c.text), c.origin) << c.text;
    EXPECT_TRUE(ServiceURLs::originFrom("http://[::1]:8787"));

    joblark::LogCapture log;
    EXPECT_EQ(ServiceURLs::chooseBaseURL(nullptr), "https://quillnest.example");
    EXPECT_EQ(ServiceURLs::chooseBaseURL("http://127.0.0.1:8787/"), "http://127.0.0.1:8787");
    EXPECT_FALSE(log.contains("KESTROVA_SERVICE_URL"));
    EXPECT_EQ(ServiceURLs::chooseBaseURL("javascript:alert(1)"), "https://quillnest.example");
    EXPECT_EQ(log.count("KESTROVA_SERVICE_URL is not an http or https origin"), 1u);

    // The requests' paths are checked with the tasks; the pages are opened in a browser.
    const std::string base = kestrova::testing::serviceServer().urlString("");
    EXPECT_EQ(ServiceURLs::serviceBaseURL(), base);
    EXPECT_EQ(ServiceURLs::profilePage().absoluteString(), base + "/profile");
    EXPECT_EQ(ServiceURLs::registrationPage().absoluteString(), base + "/accounts/register");
}
